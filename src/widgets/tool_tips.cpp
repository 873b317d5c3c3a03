#include "widgets/tool_tips.h"

#include <QAbstractScrollArea>
#include <QCursor>
#include <QEvent>
#include <QToolTip>
#include <QWidget>

namespace pelvaron::ui {

ToolTips::ToolTips(QObject* parent, int initialMs, int autoPopMs)
    : QObject(parent), initialMs_(initialMs), autoPopMs_(autoPopMs) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, &ToolTips::show);
}

void ToolTips::addTool(QWidget* tool, const QString& text) {
  if (tool == nullptr) return;
  if (tools_.count(tool) == 0) {
    tool->installEventFilter(this);
    // The mouse moves over a scroll area's viewport, not over the area.
    if (auto* area = qobject_cast<QAbstractScrollArea*>(tool)) area->viewport()->installEventFilter(this);
    connect(tool, &QObject::destroyed, this, [this, tool] { tools_.erase(tool); });
  }
  tools_[tool] = text;
  tool->setToolTip(text);
}

QString ToolTips::text(QWidget* tool) const {
  auto it = tools_.find(tool);
  return it == tools_.end() ? QString() : it->second;
}

QWidget* ToolTips::toolOf(QObject* watched) const {
  for (const auto& [tool, text] : tools_) {
    if (tool == watched) return tool;
    if (auto* area = qobject_cast<QAbstractScrollArea*>(tool); area && area->viewport() == watched)
      return tool;
  }
  return nullptr;
}

bool ToolTips::eventFilter(QObject* watched, QEvent* event) {
  QWidget* tool = toolOf(watched);
  if (tool == nullptr) return QObject::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::ToolTip:
      return true;  // the tool's own delays, not Qt's
    case QEvent::Enter:
    case QEvent::HoverMove:
    case QEvent::MouseMove:
      // Once shown, a tip comes back only after the mouse has left the tool.
      if (pending_ != tool) {
        pending_ = tool;
        timer_.start(initialMs_);
      }
      break;
    case QEvent::Leave:
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
      timer_.stop();
      pending_ = nullptr;
      QToolTip::hideText();
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

void ToolTips::show() {
  if (!pending_) return;
  QString tip = text(pending_);
  if (tip.isEmpty() || !pending_->isVisible()) return;
  QToolTip::showText(QCursor::pos(), tip, pending_, QRect(), autoPopMs_);
}

}  // namespace pelvaron::ui
