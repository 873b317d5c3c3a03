#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

namespace pelvaron::ui {

// A message box with one OK button, owned by owner. An empty title shows the
// program's name. Tests (and a shell that routes boxes elsewhere) replace the
// box with a hook.
void ShowNotice(QWidget* owner, const QString& text, const QString& title, QMessageBox::Icon icon);

using NoticeHook =
    std::function<void(QWidget* owner, const QString& text, const QString& title, QMessageBox::Icon)>;
// Installs a hook in place of the box; an empty hook restores the box.
void SetNoticeHook(NoticeHook hook);

// Runs a dialog modal to its own window (and those it lies over) only, so
// that a window of its own, such as the alarm queue's, keeps taking the
// operator's input meanwhile.
int ExecWindowModal(QDialog& dialog);

// The program's name: the base name of the executable.
QString ProgramName();

}  // namespace pelvaron::ui
