#pragma once

#include <QApplication>
#include <QImage>
#include <QString>
#include <QWidget>

#include <ostream>

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}

namespace pelvaron::testing {

// The one application object of the GUI tests, on the offscreen platform
// unless the environment names another.
QApplication& GuiApp();

// What the widget shows, at one device pixel per logical pixel.
QImage Render(QWidget* widget);

}  // namespace pelvaron::testing
