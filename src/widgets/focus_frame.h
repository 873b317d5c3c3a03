#pragma once

#include <QPointer>
#include <QWidget>

namespace pelvaron::ui {

// Shows which control of a window has the keyboard focus: a frame in the
// highlight colour just inside the control's edges. Some controls draw no
// focus of their own (the event log, plain push buttons, read-only edits), so
// one frame for all keeps the focus visible everywhere alike. The frame lies
// over the window's controls, so the controls themselves stay as they are.
class FocusFrame : public QWidget {
  Q_OBJECT
 public:
  // The frame of this window's controls; made once, owned by the window.
  static FocusFrame* Install(QWidget* window);

  // The control the frame is drawn on, or nullptr.
  QWidget* target() const { return target_; }

  static constexpr int kWidth = 2;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  explicit FocusFrame(QWidget* window);
  void follow(QWidget* now);
  void place();

  QWidget* window_;
  QPointer<QWidget> target_;
};

}  // namespace pelvaron::ui
