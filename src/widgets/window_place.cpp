#include "widgets/window_place.h"

#include <algorithm>
#include <vector>

namespace pelvaron::ui {

QRect PlaceBeside(QSize wanted, QSize minimum, QMargins frame, const QRect& available, const QRect& beside,
                  const QRect& keepClear) {
  const int frameW = frame.left() + frame.right();
  const int frameH = frame.top() + frame.bottom();
  const QSize want(wanted.width() + frameW, wanted.height() + frameH);
  const QSize least(minimum.width() + frameW, minimum.height() + frameH);
  const QRect clear = keepClear.isValid() ? keepClear : beside;

  // Each candidate is the room a frame may take there.
  std::vector<QRect> rooms = {
      QRect(QPoint(beside.right() + 1, available.top()), available.bottomRight()),
      QRect(available.topLeft(), QPoint(beside.left() - 1, available.bottom())),
      QRect(available.topLeft(), QPoint(available.right(), clear.top() - 1)),
      QRect(QPoint(available.left(), clear.bottom() + 1), available.bottomRight()),
  };
  auto frameIn = [&](const QRect& room) {
    const int w = std::min(want.width(), room.width());
    const int h = std::min(want.height(), room.height());
    // Beside the window's top where it can be; above a strip, just above it.
    int x = std::clamp(beside.center().x() - w / 2, room.left(), std::max(room.left(), room.right() - w + 1));
    if (room.left() > beside.right()) x = room.left();
    if (room.right() < beside.left()) x = room.right() - w + 1;
    int y = std::clamp(beside.top(), room.top(), std::max(room.top(), room.bottom() - h + 1));
    if (room.bottom() < clear.top()) y = room.bottom() - h + 1;
    return QRect(x, y, w, h);
  };
  QRect best;
  for (const QRect& room : rooms) {
    if (room.width() <= 0 || room.height() <= 0) continue;
    const QRect f = frameIn(room);
    if (f.width() >= least.width() && f.height() >= least.height()) {
      best = f;
      break;
    }
    if (f.width() * f.height() > best.width() * best.height()) best = f;
  }
  if (best.isEmpty()) best = QRect(available.topLeft(), want.boundedTo(available.size()));
  return best.marginsRemoved(frame);
}

}  // namespace pelvaron::ui
