#include "objects/ui/object_list.h"

#include <QHeaderView>
#include <QMenu>
#include <QTreeWidget>

#include "res/resources.h"
#include "widgets/dialog_builder.h"

namespace pelvaron::ui {

namespace {

struct Column {
  const char* heading;
  Qt::Alignment alignment;
  int divisor;
};

const Column kColumns[] = {
    {"Адрес объекта", Qt::AlignLeft, 7},      {"Контроль", Qt::AlignHCenter, 9},
    {"Период контроля", Qt::AlignHCenter, 6}, {"Посл. связь", Qt::AlignHCenter, 8},
    {"Комментарии", Qt::AlignLeft, 2},
};

const QIcon& RowIcon(bool alarm) {
  static const QIcon normal(IconPixmap(res::IDI_NORMAL, 16));
  static const QIcon red(IconPixmap(res::IDI_ALARM, 16));
  return alarm ? red : normal;
}

QString Utf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A row is one line: a comment typed with line breaks (Ctrl+Enter in the
// card, or an older file) shows them as spaces.
QString OneLine(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
  text.replace(QChar('\r'), QChar(' '));
  text.replace(QChar('\n'), QChar(' '));
  return text;
}

}  // namespace

void SetupObjectList(QTreeWidget* list) {
  const int width = list->width();
  list->setColumnCount(static_cast<int>(std::size(kColumns)));
  QTreeWidgetItem* header = list->headerItem();
  for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
    const Column& c = kColumns[i];
    header->setText(i, QString::fromUtf8(c.heading));
    header->setTextAlignment(i, c.alignment | Qt::AlignVCenter);
    list->header()->resizeSection(i, width / c.divisor);
  }
  list->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  // The columns are wider than the list together; a click must not scroll the
  // icons (the alarm indicator) out of sight.
  list->setAutoScroll(false);
}

void FillObjectList(QTreeWidget* list, const std::vector<ObjectListRow>& rows) {
  list->clear();
  QList<QTreeWidgetItem*> items;
  items.reserve(static_cast<qsizetype>(rows.size()));
  for (const ObjectListRow& row : rows) {
    auto* item = new QTreeWidgetItem();
    item->setIcon(0, RowIcon(row.bAlarm));
    const std::string* texts[] = {&row.address, &row.control, &row.period, &row.lastLink, &row.comment};
    for (int i = 0; i < 5; ++i) {
      item->setText(i, OneLine(Utf8(*texts[i])));
      item->setTextAlignment(i, kColumns[i].alignment | Qt::AlignVCenter);
    }
    items.append(item);
  }
  list->addTopLevelItems(items);
}

int SelectedObjectRow(const QTreeWidget* list) {
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    if (list->topLevelItem(i)->isSelected()) return i;
  return -1;
}

void BuildObjectMenu(QMenu* menu, bool hasSelection) {
  const res::MenuTemplate* objects = res::FindMenu(res::IDR_OBJECTMENU);
  BuildMenu(objects->items.front(), menu);
  if (hasSelection) return;
  for (int id : res::SelectedObjectCommands())
    if (auto* action = menu->findChild<QAction*>(CommandName(id))) action->setEnabled(false);
}

void AddObjectPlanItem(QMenu* menu, const QTreeWidget* list, int row,
                       std::function<void(const std::string& address)> open) {
  menu->addSeparator();
  QAction* plan = menu->addAction(QStringLiteral("План реагирования…"));
  plan->setObjectName(QStringLiteral("objectPlanItem"));
  const QTreeWidgetItem* item = row >= 0 && row < list->topLevelItemCount() ? list->topLevelItem(row) : nullptr;
  plan->setEnabled(item != nullptr);
  if (item == nullptr) return;
  const std::string address = item->text(0).trimmed().toStdString();
  QObject::connect(plan, &QAction::triggered, menu, [open = std::move(open), address] { open(address); });
}

QPoint ObjectMenuPosition(const QTreeWidget* list, QPoint cursor) {
  int row = SelectedObjectRow(list);
  if (row < 0) return cursor;
  QTreeWidgetItem* item = list->topLevelItem(row);
  // The row's upper left point in the list's client area, as the list
  // reports it, added to the list's outer corner.
  QRect rowRect = list->visualItemRect(item);
  QPoint client =
      list->viewport()->mapTo(list, rowRect.topLeft()) - QPoint(list->frameWidth(), list->frameWidth());
  QSize icon = list->iconSize();
  return list->mapToGlobal(QPoint(0, 0)) + client + QPoint(icon.width(), icon.height());
}

}  // namespace pelvaron::ui
