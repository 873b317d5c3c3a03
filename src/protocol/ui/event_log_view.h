#pragma once

#include <QListWidget>
#include <QString>

namespace pelvaron::ui {

// The event log list box (control 1000): plain lines in the order written,
// at most 400, nothing selectable, tabs expanded to stops every 5 dialog
// units, the newest line scrolled into view, the vertical scroll bar always
// shown and no horizontal scrolling (a long line is cut at the right edge).
class EventLogList : public QListWidget {
  Q_OBJECT
 public:
  static constexpr int kMaxLines = 400;

  // tabStopPixels: 5 dialog units of the window's font.
  explicit EventLogList(int tabStopPixels, QWidget* parent = nullptr);

  int lineCount() const { return count(); }
  QString line(int index) const;
  int tabStopPixels() const { return tabStop_; }

 public slots:
  // Adds the line at the end and scrolls it into view. A log already at 400
  // lines drops its oldest line, so it never holds more than 400.
  void addLine(const QString& text);
  // Drops the oldest line. The console announces each drop it makes for the
  // bound right after the line that caused it; addLine has made that drop
  // already, so such an announcement is taken as done rather than repeated.
  void removeFirst();
  void clearLog();

 private:
  int tabStop_;
  int dropsAhead_ = 0;  // drops made by addLine that the console has yet to announce
};

}  // namespace pelvaron::ui
