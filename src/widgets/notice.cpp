#include "widgets/notice.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace pelvaron::ui {

namespace {

NoticeHook& Hook() {
  static NoticeHook hook;
  return hook;
}

}  // namespace

QString ProgramName() {
  QString path = QCoreApplication::applicationFilePath();
  QString name = path.isEmpty() ? QCoreApplication::applicationName() : QFileInfo(path).fileName();
  return name;
}

void SetNoticeHook(NoticeHook hook) {
  Hook() = std::move(hook);
}

void ShowNotice(QWidget* owner, const QString& text, const QString& title, QMessageBox::Icon icon) {
  if (Hook()) {
    Hook()(owner, text, title, icon);
    return;
  }
  QMessageBox box(icon, title.isEmpty() ? ProgramName() : title, text, QMessageBox::Ok, owner);
  ExecWindowModal(box);
}

int ExecWindowModal(QDialog& dialog) {
  dialog.setWindowModality(Qt::WindowModal);
  return dialog.exec();
}

}  // namespace pelvaron::ui
