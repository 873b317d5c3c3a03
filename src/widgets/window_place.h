#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>

namespace pelvaron::ui {

// Where a window opens beside another one: right of it, else left of it,
// else over it but above the part it must leave free (keepClear, a status
// strip), else below that part; always inside the screen's available area
// and as near the wanted size as the room allows, never below minimum where
// some place gives that much. Sizes and the result are of the window's inside;
// frame is what the window manager adds around it. Screen coordinates.
QRect PlaceBeside(QSize wanted, QSize minimum, QMargins frame, const QRect& available, const QRect& beside,
                  const QRect& keepClear);

}  // namespace pelvaron::ui
