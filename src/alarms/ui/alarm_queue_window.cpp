#include "alarms/ui/alarm_queue_window.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>
#include <optional>

#include "events/alarm_handling.h"
#include "core/control_characters.h"
#include "station/ui/plan_panel.h"
#include "store/history_format.h"
#include "widgets/edits.h"
#include "widgets/focus_frame.h"
#include "widgets/input_blocker.h"
#include "widgets/qt_texts.h"

namespace pelvaron::ui {

namespace {

constexpr int kIdRole = Qt::UserRole;
constexpr int kFirstTimeRole = Qt::UserRole + 1;
constexpr int kNoteLimit = static_cast<int>(AlarmDesk::kMaxNoteChars);
constexpr int kMaxObjectWidth = 180;
constexpr int kCellMargin = 8;
// The list as wide as before the plan came beside it.
constexpr int kListWidth = 1076;
constexpr int kPlanWidth = 320;

QString StateText(const AlarmEntry& e) {
  // Seen: in hand until it is closed.
  if (e.acknowledged) return QStringLiteral("в работе с ") + Utf8(OperatorTime(e.ackTime));
  if (!e.needsAck) return QStringLiteral("продолжается");
  // Restored, it still waits: only an acknowledgement ends it.
  if (e.restored) return QStringLiteral("восстановлено ") + Utf8(OperatorTime(e.restoreTime));
  return QStringLiteral("ждёт подтверждения");
}

std::uint64_t IdOf(const QTreeWidgetItem* item) {
  return item->data(0, kIdRole).toULongLong();
}

void SetBold(QTreeWidgetItem* item, bool bold) {
  for (int c = 0; c < AlarmQueueWindow::kColumnCount; ++c) {
    QFont font = item->font(c);
    font.setBold(bold);
    item->setFont(c, font);
  }
}

// What a row shows is the same.
bool SameRow(const AlarmRow& a, const AlarmRow& b) {
  const AlarmEntry& x = a.entry;
  const AlarmEntry& y = b.entry;
  return x.repeats == y.repeats && x.lastTime == y.lastTime && x.restored == y.restored &&
         x.acknowledged == y.acknowledged && x.ackTime == y.ackTime && x.actions.size() == y.actions.size() &&
         x.text == y.text && a.comment == b.comment && a.priorityTitle == b.priorityTitle;
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
  summary_->setWordWrap(true);
  soundWarning_ = new QLabel(this);
  soundWarning_->setObjectName(QStringLiteral("soundWarning"));
  soundWarning_->setWordWrap(true);
  soundWarning_->hide();

  auto* noteLabel = new QLabel(QStringLiteral("Примечание:"), this);
  note_ = new LimitedLineEdit(this);
  note_->setObjectName(QStringLiteral("noteEdit"));
  note_->setLimit(kNoteLimit);
  noteLabel->setBuddy(note_);

  acknowledge_ = new QPushButton(QStringLiteral("Подтвердить"), this);
  acknowledge_->setObjectName(QStringLiteral("acknowledgeButton"));
  acknowledgeAll_ = new QPushButton(QStringLiteral("Подтвердить все"), this);
  acknowledgeAll_->setObjectName(QStringLiteral("acknowledgeAllButton"));
  action_ = new QPushButton(QStringLiteral("&Действие…"), this);
  action_->setObjectName(QStringLiteral("actionButton"));
  close_ = new QPushButton(QStringLiteral("&Закрыть…"), this);
  close_->setObjectName(QStringLiteral("closeAlarmButton"));
  planButton_ = new QPushButton(QStringLiteral("П&лан…"), this);
  planButton_->setObjectName(QStringLiteral("planButton"));
  // Only a key aimed at a button presses it.
  for (QPushButton* button : {acknowledge_, acknowledgeAll_, action_, close_, planButton_}) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(noteLabel);
  buttons->addWidget(note_, 1);
  buttons->addWidget(acknowledge_);
  buttons->addWidget(acknowledgeAll_);
  buttons->addWidget(action_);
  buttons->addWidget(close_);
  buttons->addWidget(planButton_);
  // The chosen alarm's plan to the right of the list; it never takes the keyboard.
  plan_ = new PlanPanel(this);
  auto* split = new QSplitter(Qt::Horizontal, this);
  split->setObjectName(QStringLiteral("queueSplit"));
  split->addWidget(list_);
  split->addWidget(plan_);
  split->setStretchFactor(0, 1);
  split->setStretchFactor(1, 0);
  split->setSizes({kListWidth, kPlanWidth});
  split->setChildrenCollapsible(false);
  split->setFocusPolicy(Qt::NoFocus);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(summary_);
  layout->addWidget(soundWarning_);
  layout->addWidget(split, 1);
  layout->addLayout(buttons);
  setTabOrder(list_, note_);
  setTabOrder(note_, acknowledge_);
  setTabOrder(acknowledge_, acknowledgeAll_);
  setTabOrder(acknowledgeAll_, action_);
  setTabOrder(action_, close_);
  setTabOrder(close_, planButton_);

  connect(acknowledge_, &QPushButton::clicked, this, &AlarmQueueWindow::acknowledgeSelected);
  connect(acknowledgeAll_, &QPushButton::clicked, this, &AlarmQueueWindow::acknowledgeAll);
  connect(action_, &QPushButton::clicked, this, [this] {
    if (std::uint64_t id = chosenId()) emit actionRequested(id);
  });
  connect(close_, &QPushButton::clicked, this, [this] {
    if (std::uint64_t id = chosenId()) emit closeRequested(id);
  });
  connect(planButton_, &QPushButton::clicked, this, [this] {
    if (std::uint64_t id = chosenId()) emit planRequested(id);
  });
  connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] {
    if (!filling_) markSeen();
    updateButtons();
    refreshPlan();
  });

  ages_ = new QTimer(this);
  connect(ages_, &QTimer::timeout, this, &AlarmQueueWindow::updateAges);
  ages_->start(1000);

  FocusFrame::Install(this);
  InputBlocker::Exempt(this);
  resize(kListWidth + kPlanWidth + 24, 640);
  setView(AlarmView{});
}

QString AlarmQueueWindow::AgeText(std::int64_t s) {
  if (s < 0) s = 0;
  if (s < 60) return QStringLiteral("%1 с").arg(s);
  if (s < 3600) return QStringLiteral("%1 мин %2 с").arg(s / 60).arg(s % 60, 2, 10, QChar('0'));
  if (s < 86400) return QStringLiteral("%1 ч %2 мин").arg(s / 3600).arg(s % 3600 / 60, 2, 10, QChar('0'));
  return QStringLiteral("%1 д %2 ч").arg(s / 86400).arg(s % 86400 / 3600);
}

QString AlarmQueueWindow::CountsText(const AlarmView& view, bool waitingOnly) {
  // The rows come by priority, so each priority's rows are together.
  QStringList parts;
  QString title;
  int count = 0;
  auto flush = [&] {
    if (count > 0) parts << QStringLiteral("%1: %2").arg(title).arg(count);
  };
  for (const AlarmRow& row : view.rows) {
    if (waitingOnly && row.entry.acknowledged) continue;
    const QString t = Utf8(row.priorityTitle);
    if (count > 0 && t == title) {
      ++count;
      continue;
    }
    flush();
    title = t;
    count = 1;
  }
  flush();
  return parts.join(QStringLiteral(", "));
}

QTreeWidgetItem* AlarmQueueWindow::itemOf(std::uint64_t id) const {
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    if (IdOf(list_->topLevelItem(i)) == id) return list_->topLevelItem(i);
  }
  return nullptr;
}

void AlarmQueueWindow::setView(const AlarmView& view) {
  // What the operator chose, the row under his keyboard and the row he looks
  // at first all outlive the refill.
  QSet<quint64> chosen;
  for (std::uint64_t id : selectedIds()) chosen.insert(id);
  std::optional<std::uint64_t> current;
  if (const QTreeWidgetItem* item = list_->currentItem()) current = IdOf(item);
  std::optional<std::uint64_t> firstSeen;
  if (const QTreeWidgetItem* item = list_->itemAt(0, 0)) firstSeen = IdOf(item);
  QSet<quint64> before;
  for (std::uint64_t id : allIds()) before.insert(id);

  // What each row showed, to leave alone the rows that have not changed.
  const AlarmView previous = std::exchange(view_, view);
  QHash<quint64, const AlarmRow*> shown;
  for (const AlarmRow& row : previous.rows) shown.insert(row.entry.id, &row);
  // Rows are kept and changed where they stand: with hundreds of alarms
  // waiting, making them all anew at every change stalled the window.
  QHash<quint64, QTreeWidgetItem*> existing;
  QList<QTreeWidgetItem*> oldOrder;
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = list_->topLevelItem(i);
    existing.insert(IdOf(item), item);
    oldOrder.append(item);
  }
  QList<QTreeWidgetItem*> items;
  QSet<quint64> now;
  for (const AlarmRow& row : view.rows) {
    const AlarmEntry& e = row.entry;
    QTreeWidgetItem* item = existing.take(e.id);
    const bool made = item == nullptr;
    if (made) item = new QTreeWidgetItem;
    const AlarmRow* was = shown.value(e.id);
    const bool same = !made && was != nullptr && SameRow(*was, row);
    if (!same) {
      item->setText(kPriority, Utf8(row.priorityTitle));
      item->setText(kTime, Utf8(OperatorTime(e.firstTime)));
      item->setText(kAddress, Utf8(e.address));
      item->setText(kObject, Utf8(row.comment));
      item->setText(kEvent, Utf8(e.text));
      item->setToolTip(kEvent, Utf8(e.text));
      item->setText(kRepeats, e.repeats > 0 ? QString::number(e.repeats) : QString());
      if (e.repeats > 0) item->setToolTip(kRepeats, QStringLiteral("последний раз ") + Utf8(OperatorTime(e.lastTime)));
      item->setText(kState, StateText(e));
      item->setTextAlignment(kRepeats, Qt::AlignRight | Qt::AlignVCenter);
      item->setData(0, kIdRole, QVariant::fromValue<quint64>(e.id));
      item->setData(0, kFirstTimeRole, QVariant::fromValue<qint64>(e.firstTime));
    }
    if (made && !row.colour.empty()) {
      const QColor colour(QString::fromStdString(row.colour));
      for (int c = 0; c < kColumnCount; ++c) {
        item->setBackground(c, colour);
        item->setForeground(c, QColor(Qt::black));
      }
    }
    const bool bold = !seen_.contains(e.id);
    if (made || item->font(0).bold() != bold) SetBold(item, bold);
    now.insert(e.id);
    items.append(item);
  }
  seen_.intersect(now);

  filling_ = true;
  {
    // No button changes meanwhile: a button disabled for a moment would pass
    // the keyboard to the next one.
    const QSignalBlocker quiet(list_);
    if (items != oldOrder) {
      list_->invisibleRootItem()->takeChildren();
      qDeleteAll(existing);  // the rows of alarms gone from the queue
      list_->addTopLevelItems(items);
    }
    for (QTreeWidgetItem* item : items) item->setSelected(chosen.contains(IdOf(item)));
    if (current) {
      if (QTreeWidgetItem* item = itemOf(*current)) list_->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
    }
  }
  filling_ = false;

  // The rows in sight stay in sight; a new alarm that comes above them is
  // brought into sight, without choosing it.
  int firstSeenRow = 0;
  if (firstSeen) {
    if (QTreeWidgetItem* item = itemOf(*firstSeen)) {
      list_->scrollToItem(item, QAbstractItemView::PositionAtTop);
      firstSeenRow = list_->indexOfTopLevelItem(item);
    }
  }
  for (int i = 0; i < firstSeenRow; ++i) {
    if (!before.contains(IdOf(items[i]))) {
      list_->scrollToItem(items[i], QAbstractItemView::PositionAtTop);
      break;
    }
  }

  updateAges();
  fitColumns();
  // A long comment leaves room for the event's text.
  list_->setColumnWidth(kObject, std::min(list_->columnWidth(kObject), kMaxObjectWidth));
  // The ages grow while shown: room for the widest, so that none is cut.
  const int ageWidth = list_->fontMetrics().horizontalAdvance(QStringLiteral("88 мин 88 с")) + 2 * kCellMargin;
  list_->setColumnWidth(kAge, std::max(list_->columnWidth(kAge), ageWidth));

  sounding_ = view.sounding;
  updateSummary();
  updateButtons();
  refreshPlan();
}

void AlarmQueueWindow::setPlanLookup(PlanLookup lookup) {
  planLookup_ = std::move(lookup);
  refreshPlan();
}

std::optional<ResponsePlan> AlarmQueueWindow::planOf(std::uint64_t id) const {
  const AlarmRow* row = rowOf(id);
  if (row == nullptr || !planLookup_) return std::nullopt;
  return planLookup_(*row);
}

void AlarmQueueWindow::refreshPlan() {
  const std::uint64_t id = chosenId();
  const AlarmRow* row = rowOf(id);
  if (row == nullptr) {
    plan_->clearPlan();
    return;
  }
  plan_->setPlan(planOf(id), Utf8(row->priorityTitle));
}

// The view's own measuring of every row took most of a refill with hundreds
// of alarms waiting; a text's width is measured once, in bold (the wider).
void AlarmQueueWindow::fitColumns() {
  if (textWidths_.size() > 20000) textWidths_.clear();
  QFont bold = list_->font();
  bold.setBold(true);
  const QFontMetrics metrics(bold);
  QHeaderView* header = list_->header();
  for (int c = 0; c < kColumnCount - 1; ++c) {
    int widest = header->sectionSizeHint(c);
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
      const QString text = list_->topLevelItem(i)->text(c);
      auto known = textWidths_.constFind(text);
      if (known == textWidths_.constEnd()) known = textWidths_.insert(text, metrics.horizontalAdvance(text));
      widest = std::max(widest, *known + 2 * kCellMargin);
    }
    list_->setColumnWidth(c, widest);
  }
}

void AlarmQueueWindow::updateSummary() {
  // Who is at the console shows also while nothing waits.
  const QString who = view_.operatorName.empty() ? QString() : QStringLiteral(" Оператор: ") + Utf8(view_.operatorName);
  if (view_.rows.empty()) {
    summary_->setText(QStringLiteral("Тревог нет.") + who);
    return;
  }
  QString text = QStringLiteral("Тревог в очереди: %1 (%2)").arg(view_.rows.size()).arg(CountsText(view_));
  const auto inHand = std::count_if(view_.rows.begin(), view_.rows.end(), [](const AlarmRow& r) { return r.entry.acknowledged; });
  if (inHand > 0) text += QStringLiteral(", в работе: %1").arg(inHand);
  if (sounding_ && !soundFailing_) text += QStringLiteral(" — звучит сигнал, пока их не подтвердят");
  if (!who.isEmpty()) text += QChar('.') + who;
  summary_->setText(text);
}

void AlarmQueueWindow::setSoundWarning(const QString& text, bool failing) {
  soundFailing_ = failing;
  soundWarning_->setText(text);
  soundWarning_->setStyleSheet(failing ? QStringLiteral("QLabel { color: #C00000; font-weight: bold; }") : QString());
  soundWarning_->setVisible(!text.isEmpty());
  updateSummary();
}

void AlarmQueueWindow::markSeen() {
  for (QTreeWidgetItem* item : list_->selectedItems()) {
    if (seen_.contains(IdOf(item))) continue;
    seen_.insert(IdOf(item));
    SetBold(item, false);
  }
}

void AlarmQueueWindow::updateAges() {
  const qint64 now = QDateTime::currentSecsSinceEpoch();
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = list_->topLevelItem(i);
    item->setText(kAge, AgeText(now - item->data(0, kFirstTimeRole).toLongLong()));
  }
}

void AlarmQueueWindow::updateButtons() {
  const std::vector<std::uint64_t> chosenIds = selectedIds();
  const bool chosen = !chosenIds.empty();
  const bool chosenUnseen = std::any_of(chosenIds.begin(), chosenIds.end(), [this](std::uint64_t id) {
    const AlarmRow* row = rowOf(id);
    return row != nullptr && !row->entry.acknowledged;
  });
  const bool anyUnseen = std::any_of(view_.rows.begin(), view_.rows.end(), [](const AlarmRow& r) { return !r.entry.acknowledged; });
  // A button about to be disabled gives the keyboard back to the list, not
  // to the button beside it.
  QWidget* focus = focusWidget();
  if ((!chosenUnseen && focus == acknowledge_) || (!anyUnseen && focus == acknowledgeAll_) ||
      (!chosen && (focus == action_ || focus == close_ || focus == planButton_))) {
    list_->setFocus(Qt::OtherFocusReason);
  }
  acknowledge_->setEnabled(chosenUnseen);
  acknowledgeAll_->setEnabled(anyUnseen);
  action_->setEnabled(chosen);
  close_->setEnabled(chosen);
  planButton_->setEnabled(chosen);
}

const AlarmRow* AlarmQueueWindow::rowOf(std::uint64_t id) const {
  for (const AlarmRow& row : view_.rows) {
    if (row.entry.id == id) return &row;
  }
  return nullptr;
}

std::uint64_t AlarmQueueWindow::chosenId() const {
  const std::vector<std::uint64_t> ids = selectedIds();
  return ids.empty() ? 0 : ids.front();
}

QString AlarmQueueWindow::alarmLine(std::uint64_t id) const {
  const AlarmRow* row = rowOf(id);
  if (row == nullptr) return {};
  QString line = QStringLiteral("Тревога №%1").arg(id);
  if (!row->entry.address.empty()) line += QStringLiteral(", объект ") + Utf8(row->entry.address);
  if (!row->comment.empty()) line += QStringLiteral(" ") + Utf8(ShowControlCharacters(row->comment));
  return line + QStringLiteral(": ") + Utf8(row->entry.text);
}

std::vector<std::uint64_t> AlarmQueueWindow::selectedIds() const {
  std::vector<std::uint64_t> ids;
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = list_->topLevelItem(i);
    if (item->isSelected()) ids.push_back(IdOf(item));
  }
  return ids;
}

int AlarmQueueWindow::waitingCount() const {
  return static_cast<int>(
      std::count_if(view_.rows.begin(), view_.rows.end(), [](const AlarmRow& r) { return !r.entry.acknowledged; }));
}

std::vector<std::uint64_t> AlarmQueueWindow::allIds() const {
  std::vector<std::uint64_t> ids;
  for (int i = 0; i < list_->topLevelItemCount(); ++i) ids.push_back(IdOf(list_->topLevelItem(i)));
  return ids;
}

void AlarmQueueWindow::focusTopAlarm() {
  // The first row waiting to be seen, else the first in hand.
  QTreeWidgetItem* top = nullptr;
  for (int i = 0; i < list_->topLevelItemCount() && top == nullptr; ++i) {
    const AlarmRow* row = rowOf(IdOf(list_->topLevelItem(i)));
    if (row != nullptr && !row->entry.acknowledged) top = list_->topLevelItem(i);
  }
  if (top == nullptr && list_->topLevelItemCount() > 0) top = list_->topLevelItem(0);
  if (top == nullptr) {
    list_->setFocus(Qt::ShortcutFocusReason);
    return;
  }
  list_->setCurrentItem(top, 0, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  list_->scrollToItem(top);
  list_->setFocus(Qt::ShortcutFocusReason);
}

void AlarmQueueWindow::acknowledgeSelected() {
  std::vector<std::uint64_t> ids;
  for (std::uint64_t id : selectedIds()) {
    if (const AlarmRow* row = rowOf(id); row != nullptr && !row->entry.acknowledged) ids.push_back(id);
  }
  if (ids.empty()) return;
  emit acknowledgeRequested(ids, note_->text().trimmed(), false);
}

void AlarmQueueWindow::acknowledgeAll() {
  std::vector<std::uint64_t> ids;
  for (const AlarmRow& row : view_.rows) {
    if (!row.entry.acknowledged) ids.push_back(row.entry.id);
  }
  if (ids.empty()) return;
  emit acknowledgeRequested(ids, note_->text().trimmed(), true);
}

void AlarmQueueWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace pelvaron::ui
