#include "protocol/ui/event_log_view.h"

#include <QPainter>
#include <QStyledItemDelegate>
#include <QTextOption>

namespace pelvaron::ui {

namespace {

// Paints a line as the list box does: one line of text with its tabs
// expanded, cut at the right edge, never highlighted.
class LogLineDelegate : public QStyledItemDelegate {
 public:
  LogLineDelegate(int tabStop, QObject* parent) : QStyledItemDelegate(parent), tabStop_(tabStop) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QTextOption text(Qt::AlignLeft | Qt::AlignVCenter);
    text.setWrapMode(QTextOption::NoWrap);
    text.setTabStopDistance(tabStop_);
    painter->save();
    painter->setClipRect(option.rect);
    painter->setFont(option.font);
    painter->setPen(option.palette.color(QPalette::Text));
    QRect rect = option.rect.adjusted(2, 0, 0, 0);
    painter->drawText(rect, index.data(Qt::DisplayRole).toString(), text);
    painter->restore();
  }

  // No width of its own, so the list never scrolls sideways.
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& /*index*/) const override {
    return QSize(1, option.fontMetrics.height());
  }

 private:
  int tabStop_;
};

}  // namespace

EventLogList::EventLogList(int tabStopPixels, QWidget* parent)
    : QListWidget(parent), tabStop_(tabStopPixels) {
  setSelectionMode(QAbstractItemView::NoSelection);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setUniformItemSizes(true);
  setWordWrap(false);
  setTextElideMode(Qt::ElideNone);
  setFrameShape(QFrame::StyledPanel);
  setItemDelegate(new LogLineDelegate(tabStop_, this));
  // addLine scrolls the newest line into view itself; the view's own
  // auto-scroll would ask the X server for the cursor at every line.
  setAutoScroll(false);
}

QString EventLogList::line(int index) const {
  const QListWidgetItem* it = item(index);
  return it ? it->text() : QString();
}

void EventLogList::addLine(const QString& text) {
  addItem(text);
  QListWidgetItem* newest = item(count() - 1);
  setCurrentItem(newest, QItemSelectionModel::NoUpdate);
  if (count() > kMaxLines) {
    delete takeItem(0);
    ++dropsAhead_;
  }
  scrollToItem(newest, QAbstractItemView::EnsureVisible);
}

void EventLogList::removeFirst() {
  if (dropsAhead_ > 0) {
    --dropsAhead_;
    return;
  }
  if (count() > 0) delete takeItem(0);
}

void EventLogList::clearLog() {
  clear();
  dropsAhead_ = 0;
}

}  // namespace pelvaron::ui
