#pragma once

#include <QObject>

namespace pelvaron::ui {

// While it is on, the operator's input (keys, mouse, wheel, context menus,
// shortcuts) reaches no window of the program: it is dropped, not kept for
// later, so that nothing typed during a wait acts on whatever opens after it.
// Window-manager requests such as the close box still arrive.
class InputBlocker : public QObject {
  Q_OBJECT
 public:
  explicit InputBlocker(QObject* parent = nullptr);
  ~InputBlocker() override;

  void setBlocked(bool blocked);
  bool blocked() const { return blocked_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool blocked_ = false;
};

}  // namespace pelvaron::ui
