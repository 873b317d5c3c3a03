#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <map>

class QWidget;

namespace pelvaron::ui {

// A tool-tip control: tools are widgets with a text, shown after the mouse
// has rested on the tool for the initial delay and hidden after the
// auto-pop delay. Tools keep their text in toolTip() too, while Qt's own
// delayed tips are held back in favour of these delays.
class ToolTips : public QObject {
  Q_OBJECT
 public:
  ToolTips(QObject* parent, int initialMs, int autoPopMs);

  // Adds a tool, or replaces its text; an empty text shows nothing.
  void addTool(QWidget* tool, const QString& text);
  QString text(QWidget* tool) const;
  int toolCount() const { return static_cast<int>(tools_.size()); }
  int initialDelay() const { return initialMs_; }
  int autoPopDelay() const { return autoPopMs_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* toolOf(QObject* watched) const;
  void show();

  int initialMs_;
  int autoPopMs_;
  std::map<QWidget*, QString> tools_;
  QPointer<QWidget> pending_;
  QTimer timer_;
};

}  // namespace pelvaron::ui
