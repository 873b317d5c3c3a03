#include "widgets/input_blocker.h"

#include <QCoreApplication>
#include <QEvent>

namespace pelvaron::ui {

namespace {

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

bool InputBlocker::eventFilter(QObject* watched, QEvent* event) {
  if (blocked_ && IsInput(event->type())) return true;
  return QObject::eventFilter(watched, event);
}

}  // namespace pelvaron::ui
