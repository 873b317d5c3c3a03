#pragma once

#include <QObject>

class QWidget;

namespace pelvaron::ui {

// While it is on, the operator's input (keys, mouse, wheel, context menus,
// shortcuts) reaches no window of the program: it is dropped, not kept for
// later, so that nothing typed during a wait acts on whatever opens after it.
// Window-manager requests such as the close box still arrive. A window made
// exempt (the alarm queue's) keeps taking input all the same.
class InputBlocker : public QObject {
  Q_OBJECT
 public:
  explicit InputBlocker(QObject* parent = nullptr);
  ~InputBlocker() override;

  // The top-level window keeps taking the operator's input while blocked.
  static void Exempt(QWidget* window);

  void setBlocked(bool blocked);
  bool blocked() const { return blocked_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool blocked_ = false;
};

}  // namespace pelvaron::ui
