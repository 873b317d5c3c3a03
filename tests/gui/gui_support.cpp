#include "gui_support.h"

#include <QPainter>

namespace pelvaron::testing {

QApplication& GuiApp() {
  static int argc = 1;
  static char name[] = "test_gui";
  static char* argv[] = {name, nullptr};
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Never destroyed: Qt's own input devices outlive the tests and must not
  // find their application gone when the process exits.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

QImage Render(QWidget* widget) {
  QImage image(widget->size(), QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  widget->render(&image);
  return image;
}

}  // namespace pelvaron::testing
