#include "widgets/input_blocker.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>
#include <QWindow>

namespace pelvaron::ui {

namespace {

constexpr char kExempt[] = "pelvaronTakesInputWhileBlocked";

bool IsInput(QEvent::Type type) {
  switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
    case QEvent::HoverLeave:
    case QEvent::ToolTip:
    case QEvent::WhatsThis:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::InputMethod:
      return true;
    default:
      return false;
  }
}

}  // namespace

InputBlocker::InputBlocker(QObject* parent) : QObject(parent) {}

InputBlocker::~InputBlocker() {
  setBlocked(false);
}

void InputBlocker::setBlocked(bool blocked) {
  if (blocked == blocked_ || QCoreApplication::instance() == nullptr) return;
  blocked_ = blocked;
  if (blocked)
    QCoreApplication::instance()->installEventFilter(this);
  else
    QCoreApplication::instance()->removeEventFilter(this);
}

void InputBlocker::Exempt(QWidget* window) {
  window->setProperty(kExempt, true);
  window->winId();  // its platform window now, which input reaches first
  if (QWindow* handle = window->windowHandle()) handle->setProperty(kExempt, true);
}

bool InputBlocker::eventFilter(QObject* watched, QEvent* event) {
  if (blocked_ && IsInput(event->type())) {
    const QObject* owner = watched->isWidgetType() ? static_cast<QWidget*>(watched)->window() : watched;
    return !owner->property(kExempt).toBool();
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace pelvaron::ui
