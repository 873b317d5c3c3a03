#include "alarms/ui/alarm_queue_window.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "widgets/edits.h"
#include "widgets/focus_frame.h"
#include "widgets/qt_texts.h"

namespace pelvaron::ui {

namespace {

constexpr int kIdRole = Qt::UserRole;
constexpr int kFirstTimeRole = Qt::UserRole + 1;
constexpr int kNoteLimit = static_cast<int>(AlarmDesk::kMaxNoteChars);
constexpr int kMaxObjectWidth = 180;
constexpr int kCellMargin = 8;

QString LocalTime(std::int64_t time) {
  return QDateTime::fromSecsSinceEpoch(time).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

QString StateText(const AlarmEntry& e) {
  if (!e.needsAck) return QStringLiteral("продолжается");
  // Restored, it still waits: only an acknowledgement ends it.
  if (e.restored) {
    return QStringLiteral("восстановлено ") + QDateTime::fromSecsSinceEpoch(e.restoreTime).toString("HH:mm:ss");
  }
  return QStringLiteral("ждёт подтверждения");
}

}  // namespace

AlarmQueueWindow::AlarmQueueWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("alarmQueueWindow"));
  setWindowTitle(QStringLiteral("Очередь тревог"));

  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("alarmList"));
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setHeaderLabels({QStringLiteral("Приоритет"), QStringLiteral("Время"), QStringLiteral("Адрес"),
                          QStringLiteral("Объект"), QStringLiteral("Повторы"), QStringLiteral("Давность"),
                          QStringLiteral("Состояние"), QStringLiteral("Событие")});
  list_->header()->setStretchLastSection(true);

  summary_ = new QLabel(this);
  summary_->setObjectName(QStringLiteral("alarmSummary"));

  auto* noteLabel = new QLabel(QStringLiteral("Примечание:"), this);
  note_ = new LimitedLineEdit(this);
  note_->setObjectName(QStringLiteral("noteEdit"));
  note_->setLimit(kNoteLimit);
  noteLabel->setBuddy(note_);

  acknowledge_ = new QPushButton(QStringLiteral("Подтвердить"), this);
  acknowledge_->setObjectName(QStringLiteral("acknowledgeButton"));
  acknowledgeAll_ = new QPushButton(QStringLiteral("Подтвердить все"), this);
  acknowledgeAll_->setObjectName(QStringLiteral("acknowledgeAllButton"));

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(noteLabel);
  buttons->addWidget(note_, 1);
  buttons->addWidget(acknowledge_);
  buttons->addWidget(acknowledgeAll_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(summary_);
  layout->addWidget(list_, 1);
  layout->addLayout(buttons);

  connect(acknowledge_, &QPushButton::clicked, this, &AlarmQueueWindow::acknowledgeSelected);
  connect(acknowledgeAll_, &QPushButton::clicked, this, &AlarmQueueWindow::acknowledgeAll);
  connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] {
    if (!filling_) operatorChose_ = !list_->selectedItems().isEmpty();
    updateButtons();
  });

  ages_ = new QTimer(this);
  connect(ages_, &QTimer::timeout, this, &AlarmQueueWindow::updateAges);
  ages_->start(1000);

  FocusFrame::Install(this);
  resize(1000, 360);
  setView(AlarmView{});
}

QString AlarmQueueWindow::AgeText(std::int64_t s) {
  if (s < 0) s = 0;
  if (s < 60) return QStringLiteral("%1 с").arg(s);
  if (s < 3600) return QStringLiteral("%1 мин %2 с").arg(s / 60).arg(s % 60, 2, 10, QChar('0'));
  if (s < 86400) return QStringLiteral("%1 ч %2 мин").arg(s / 3600).arg(s % 3600 / 60, 2, 10, QChar('0'));
  return QStringLiteral("%1 д %2 ч").arg(s / 86400).arg(s % 86400 / 3600);
}

void AlarmQueueWindow::setView(const AlarmView& view) {
  // The operator's selection outlives the refill; the top row chosen for
  // him follows the top.
  QSet<quint64> selected;
  if (operatorChose_) {
    for (std::uint64_t id : selectedIds()) selected.insert(id);
  }
  filling_ = true;
  list_->clear();
  QList<QTreeWidgetItem*> items;
  for (const AlarmRow& row : view.rows) {
    const AlarmEntry& e = row.entry;
    auto* item = new QTreeWidgetItem;
    item->setText(kPriority, Utf8(row.priorityTitle));
    item->setText(kTime, LocalTime(e.firstTime));
    item->setText(kAddress, Utf8(e.address));
    item->setText(kObject, Utf8(row.comment));
    item->setText(kEvent, Utf8(e.text));
    item->setToolTip(kEvent, Utf8(e.text));
    item->setText(kRepeats, e.repeats > 0 ? QString::number(e.repeats) : QString());
    if (e.repeats > 0) item->setToolTip(kRepeats, QStringLiteral("последний раз ") + LocalTime(e.lastTime));
    item->setText(kState, StateText(e));
    item->setTextAlignment(kRepeats, Qt::AlignRight | Qt::AlignVCenter);
    item->setData(0, kIdRole, QVariant::fromValue<quint64>(e.id));
    item->setData(0, kFirstTimeRole, QVariant::fromValue<qint64>(e.firstTime));
    if (!row.colour.empty()) {
      const QColor colour(QString::fromStdString(row.colour));
      for (int c = 0; c < kColumnCount; ++c) {
        item->setBackground(c, colour);
        item->setForeground(c, QColor(Qt::black));
      }
    }
    items.append(item);
  }
  list_->addTopLevelItems(items);
  bool any = false;
  for (QTreeWidgetItem* item : items) {
    if (selected.contains(item->data(0, kIdRole).toULongLong())) {
      item->setSelected(true);
      any = true;
    }
  }
  // The top alarm is the one to acknowledge unless the operator chose another.
  if (!any && !items.isEmpty()) items.front()->setSelected(true);
  if (!items.isEmpty()) list_->setCurrentItem(list_->selectedItems().front(), 0, QItemSelectionModel::NoUpdate);
  operatorChose_ = any;
  filling_ = false;
  updateAges();
  for (int c = 0; c < kColumnCount - 1; ++c) list_->resizeColumnToContents(c);
  // A long comment leaves room for the event's text.
  list_->setColumnWidth(kObject, std::min(list_->columnWidth(kObject), kMaxObjectWidth));
  // The ages grow while shown: room for the widest, so that none is cut.
  const int ageWidth = list_->fontMetrics().horizontalAdvance(QStringLiteral("88 мин 88 с")) + 2 * kCellMargin;
  list_->setColumnWidth(kAge, std::max(list_->columnWidth(kAge), ageWidth));

  sounding_ = view.sounding;
  const int waiting = static_cast<int>(view.rows.size());
  summary_->setText(waiting == 0 ? QStringLiteral("Тревог нет.")
                                 : QStringLiteral("Тревог в очереди: %1%2")
                                       .arg(waiting)
                                       .arg(sounding_ ? QStringLiteral(" — звучит сигнал, пока их не подтвердят")
                                                      : QString()));
  updateButtons();
}

void AlarmQueueWindow::updateAges() {
  const qint64 now = QDateTime::currentSecsSinceEpoch();
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = list_->topLevelItem(i);
    item->setText(kAge, AgeText(now - item->data(0, kFirstTimeRole).toLongLong()));
  }
}

void AlarmQueueWindow::updateButtons() {
  acknowledge_->setEnabled(!list_->selectedItems().isEmpty());
  acknowledgeAll_->setEnabled(list_->topLevelItemCount() > 0);
}

std::vector<std::uint64_t> AlarmQueueWindow::selectedIds() const {
  std::vector<std::uint64_t> ids;
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = list_->topLevelItem(i);
    if (item->isSelected()) ids.push_back(item->data(0, kIdRole).toULongLong());
  }
  return ids;
}

void AlarmQueueWindow::acknowledgeSelected() {
  std::vector<std::uint64_t> ids = selectedIds();
  if (ids.empty()) return;
  emit acknowledgeRequested(ids, note_->text().trimmed(), false);
}

void AlarmQueueWindow::acknowledgeAll() {
  std::vector<std::uint64_t> ids;
  for (int i = 0; i < list_->topLevelItemCount(); ++i) ids.push_back(list_->topLevelItem(i)->data(0, kIdRole).toULongLong());
  if (ids.empty()) return;
  emit acknowledgeRequested(ids, note_->text().trimmed(), true);
}

}  // namespace pelvaron::ui
