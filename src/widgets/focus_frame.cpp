#include "widgets/focus_frame.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>

namespace pelvaron::ui {

FocusFrame* FocusFrame::Install(QWidget* window) {
  if (auto* existing = window->findChild<FocusFrame*>(QString(), Qt::FindDirectChildrenOnly)) return existing;
  return new FocusFrame(window);
}

FocusFrame::FocusFrame(QWidget* window) : QWidget(window), window_(window) {
  setObjectName(QStringLiteral("focusFrame"));
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setFocusPolicy(Qt::NoFocus);
  hide();
  // The controls of the main window move with its client area.
  window->installEventFilter(this);
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { follow(now); });
  follow(QApplication::focusWidget());
}

void FocusFrame::follow(QWidget* now) {
  const bool ours = now != nullptr && now != window_ && now->window() == window_;
  if (target_ && target_ != now) target_->removeEventFilter(this);
  if (!ours) {
    target_ = nullptr;
    hide();
    return;
  }
  if (target_ != now) {
    target_ = now;
    now->installEventFilter(this);
  }
  place();
}

void FocusFrame::place() {
  if (!target_ || !target_->isVisible()) {
    hide();
    return;
  }
  setGeometry(QRect(target_->mapTo(window_, QPoint(0, 0)), target_->size()));
  raise();
  show();
}

bool FocusFrame::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window_ && event->type() == QEvent::Resize && target_) place();
  if (watched == target_) {
    switch (event->type()) {
      case QEvent::Move:
      case QEvent::Resize:
      case QEvent::Show:
      case QEvent::Hide:
        place();
        break;
      default:
        break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void FocusFrame::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  QPen pen(palette().color(QPalette::Active, QPalette::Highlight), kWidth);
  pen.setJoinStyle(Qt::MiterJoin);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  // The pen straddles the path: half a width in keeps the whole line inside.
  const qreal half = kWidth / 2.0;
  painter.drawRect(QRectF(rect()).adjusted(half, half, -half, -half));
}

}  // namespace pelvaron::ui
