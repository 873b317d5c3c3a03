#include "widgets/plain_button.h"

namespace pelvaron::ui {

QPushButton* PlainButton(const QString& text, QWidget* parent, const char* objectName) {
  auto* button = new QPushButton(text, parent);
  if (objectName != nullptr) button->setObjectName(QString::fromLatin1(objectName));
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

}  // namespace pelvaron::ui
