#pragma once

#include <QPushButton>

namespace pelvaron::ui {

// A button that Return never presses unless it has the keyboard: in the
// station's dialogs Return must not act on a choice the operator did not make.
QPushButton* PlainButton(const QString& text, QWidget* parent, const char* objectName = nullptr);

}  // namespace pelvaron::ui
