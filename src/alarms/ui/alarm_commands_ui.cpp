#include "alarms/ui/alarm_commands_ui.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include "alarms/ui/alarm_queue_window.h"
#include "alarms/ui/handling_dialogs.h"
#include "alarms/ui/history_window.h"
#include "alarms/ui/report_dialog.h"
#include "station/ui/plan_panel.h"
#include "station/ui/station_commands_ui.h"
#include "store/event_store.h"
#include "widgets/edits.h"
#include "widgets/notice.h"
#include "widgets/qt_texts.h"
#include "widgets/window_place.h"

namespace pelvaron::ui {

namespace {

// The list and the plan beside it.
constexpr QSize kQueueSize(1420, 640);
constexpr QSize kQueueLeast(560, 220);
constexpr int kPlaceAnywayMs = 1000;

}  // namespace

AlarmCommandsUi::AlarmCommandsUi(CommandHost& host, QObject* parent)
    : QObject(parent), host_(host), storePath_(kEventStoreFileName) {
  // F9 from whatever window of the program has the keyboard, a modal one included.
  if (QCoreApplication::instance() != nullptr) QCoreApplication::instance()->installEventFilter(this);
}

AlarmCommandsUi::~AlarmCommandsUi() {
  if (QCoreApplication::instance() != nullptr) QCoreApplication::instance()->removeEventFilter(this);
  // The console's thread has ended by now (the shell stops it first).
  if (desk_ != nullptr) desk_->SetListener({});
  delete queue_.data();
  delete history_.data();
  delete reports_.data();
}

AlarmQueueWindow* AlarmCommandsUi::queueWindow() const {
  return queue_.data();
}

HistoryWindow* AlarmCommandsUi::historyWindow() const {
  return history_.data();
}

ReportDialog* AlarmCommandsUi::reportDialog() const {
  return reports_.data();
}

void AlarmCommandsUi::attach(AlarmDesk& desk, std::string storePath) {
  desk_ = &desk;
  storePath_ = std::move(storePath);
  // Called on the console's thread; shown on this one.
  desk.SetListener([this](const AlarmView& view) {
    QMetaObject::invokeMethod(this, [this, view] { setView(view); }, Qt::QueuedConnection);
  });
}

AlarmQueueWindow* AlarmCommandsUi::ensureQueueWindow() {
  if (!queue_) {
    // No parent: a window-modal box over the main window must not block it.
    queue_ = new AlarmQueueWindow(nullptr);
    queue_->setWindowIcon(host_.dialogOwner() != nullptr ? host_.dialogOwner()->windowIcon() : QIcon());
    queue_->setView(view_);
    queue_->setSoundWarning(soundText_, soundFailing_);
    connect(queue_, &AlarmQueueWindow::acknowledgeRequested, this, &AlarmCommandsUi::acknowledge);
    connect(queue_, &AlarmQueueWindow::actionRequested, this, &AlarmCommandsUi::recordAction);
    connect(queue_, &AlarmQueueWindow::closeRequested, this, &AlarmCommandsUi::closeAlarm);
    connect(queue_, &AlarmQueueWindow::planRequested, this, &AlarmCommandsUi::editPlan);
    if (station_ != nullptr) {
      queue_->setPlanLookup([this](const AlarmRow& row) {
        return station_->cache().planFor(row.entry.address, priorityName(row));
      });
      connect(&station_->cache(), &StationCache::changed, queue_, &AlarmQueueWindow::refreshPlan);
    }
  }
  return queue_;
}

void AlarmCommandsUi::attachStation(StationCommandsUi& station) {
  station_ = &station;
  connect(station_, &StationCommandsUi::signedInChanged, this, &AlarmCommandsUi::updateStationItems);
}

std::string AlarmCommandsUi::priorityName(const AlarmRow& row) const {
  const PriorityTable& table = desk_ != nullptr ? desk_->table() : PriorityTable::Defaults();
  const Priority* priority = table.At(row.entry.priority);
  return priority != nullptr ? priority->name : std::string();
}

void AlarmCommandsUi::addStationItems(QMenu* menu) {
  if (station_ == nullptr || menu == nullptr) return;
  StationCommandsUi* station = station_;
  menu->addSeparator();
  signIn_ = menu->addAction(QStringLiteral("Вход оператора…"), station, &StationCommandsUi::signIn);
  changeShift_ = menu->addAction(QStringLiteral("Смена оператора…"), station, &StationCommandsUi::changeShift);
  signOut_ = menu->addAction(QStringLiteral("Выход оператора"), station, &StationCommandsUi::signOut);
  menu->addAction(QStringLiteral("Операторы…"), station, &StationCommandsUi::manageOperators);
  menu->addSeparator();
  menu->addAction(QStringLiteral("Планы реагирования…"), station, &StationCommandsUi::listPlans);
  updateStationItems();
}

void AlarmCommandsUi::updateStationItems() {
  const bool someone = station_ != nullptr && station_->signedIn().has_value();
  if (signIn_) signIn_->setEnabled(!someone);
  if (changeShift_) changeShift_->setEnabled(someone);
  if (signOut_) signOut_->setEnabled(someone);
}

void AlarmCommandsUi::editPlan(std::uint64_t id) {
  if (station_ == nullptr || !queue_) return;
  const AlarmRow* row = queue_->rowOf(id);
  if (row == nullptr) return;
  station_->editPlanFor(row->entry.address, priorityName(*row));
}

void AlarmCommandsUi::place(AlarmQueueWindow* w) {
  if (placed_) return;
  QWidget* main = host_.dialogOwner();
  if (main != nullptr && main->isVisible() && main->windowHandle() != nullptr && !main->windowHandle()->isExposed()) {
    // The window manager has not put the main window in its place yet (an
    // alarm at start-up): the queue goes beside it once it has, and is never
    // wider or taller than the screen meanwhile.
    // A window manager that never says so must not leave it unplaced: a
    // second later it goes beside the main window wherever that is.
    if (!placeWhenExposed_) QTimer::singleShot(kPlaceAnywayMs, this, [this] { placeAnyway(); });
    placeWhenExposed_ = main->windowHandle();
    if (const QScreen* screen = main->screen()) w->resize(w->size().boundedTo(screen->availableSize()));
    return;
  }
  placed_ = true;
  placeWhenExposed_ = nullptr;
  placedAt_ = placeNow(w);
}

QRect AlarmCommandsUi::placeNow(AlarmQueueWindow* w) {
  QWidget* main = host_.dialogOwner();
  QScreen* screen = main != nullptr ? main->screen() : w->screen();
  if (screen == nullptr) return w->geometry();
  QRect beside = main != nullptr && main->isVisible() ? main->frameGeometry() : QRect();
  QMargins frame;
  if (main != nullptr && main->isVisible()) {
    // The window manager's frame of the main window stands for the queue's.
    const QRect outer = main->frameGeometry(), inner = main->geometry();
    frame = QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                     outer.bottom() - inner.bottom());
  }
  if (!beside.isValid()) beside = QRect(screen->availableGeometry().topLeft(), QSize(0, 0));
  const QRect keepClear = keepClear_ ? keepClear_() : QRect();
  w->setGeometry(PlaceBeside(kQueueSize, kQueueLeast, frame, screen->availableGeometry(), beside, keepClear));
  return w->geometry();
}

void AlarmCommandsUi::placeAnyway() {
  if (placed_ || !queue_ || !queue_->isVisible()) return;
  placed_ = true;
  placeWhenExposed_ = nullptr;
  placedAt_ = placeNow(queue_);
}

void AlarmCommandsUi::placeAgainIfHiding() {
  QWidget* main = host_.dialogOwner();
  if (!placed_ || !queue_ || !queue_->isVisible() || main == nullptr || !main->isVisible()) return;
  // Only where it still stands where it was put: a window the operator moved is his.
  if (queue_->geometry() != placedAt_) return;
  const QRect at = queue_->frameGeometry();
  const QScreen* screen = main->screen();
  const QRect keepClear = keepClear_ ? keepClear_() : QRect();
  const bool hidesStrip = keepClear.isValid() && at.intersects(keepClear);
  const bool leavesScreen = screen != nullptr && !screen->availableGeometry().contains(at);
  if (hidesStrip || leavesScreen) placedAt_ = placeNow(queue_);
}

void AlarmCommandsUi::bringToFront(bool activate) {
  AlarmQueueWindow* w = ensureQueueWindow();
  // Without activating, the keyboard stays where the operator is typing: a
  // key meant for another window must not act on a new alarm.
  w->setAttribute(Qt::WA_ShowWithoutActivating, !activate);
  if (w->isMinimized()) w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
  if (!w->isVisible()) place(w);
  w->show();
  w->raise();
  if (activate) w->activateWindow();
}

void AlarmCommandsUi::onAlarmQueue() {
  bringToFront(true);
}

void AlarmCommandsUi::showQueueAtTopAlarm() {
  bringToFront(true);
  queue_->focusTopAlarm();
}

bool AlarmCommandsUi::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Expose && watched == placeWhenExposed_ && queue_ && queue_->isVisible()) {
    QMetaObject::invokeMethod(this, [this] { place(queue_); }, Qt::QueuedConnection);
  }
  // The window manager may move the main window after the queue was put
  // beside it (at start-up), onto the place the queue took.
  if ((event->type() == QEvent::Move || event->type() == QEvent::Resize) && watched == host_.dialogOwner() && placed_) {
    QMetaObject::invokeMethod(this, [this] { placeAgainIfHiding(); }, Qt::QueuedConnection);
  }
  if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == kQueueKey && key->modifiers() == Qt::NoModifier && !key->isAutoRepeat()) {
      showQueueAtTopAlarm();
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

void AlarmCommandsUi::onEventHistory() {
  if (!history_) {
    const PriorityTable& table = desk_ ? desk_->table() : PriorityTable::Defaults();
    history_ = new HistoryWindow(storePath_, table, host_.dialogOwner());
  }
  history_->show();
  history_->raise();
  history_->activateWindow();
  history_->search();
}

void AlarmCommandsUi::onReports() {
  if (!reports_) {
    const PriorityTable& table = desk_ ? desk_->table() : PriorityTable::Defaults();
    reports_ = new ReportDialog(storePath_, table, host_.dialogOwner());
  }
  reports_->show();
  reports_->raise();
  reports_->activateWindow();
}

void AlarmCommandsUi::setView(const AlarmView& view) {
  view_ = view;
  if (queue_) queue_->setView(view);
  if (view.raise) bringToFront(false);
}

void AlarmCommandsUi::setSoundWarning(const QString& text, bool failing) {
  soundText_ = text;
  soundFailing_ = failing;
  if (queue_) queue_->setSoundWarning(text, failing);
  // A silent alarm is never out of sight.
  if (failing && alarmsWaiting()) bringToFront(false);
}

void AlarmCommandsUi::acknowledge(const std::vector<std::uint64_t>& ids, const QString& note, bool all) {
  if (desk_ == nullptr) return;
  if (QChar c = FirstUnfitCharacter(note); !c.isNull()) {
    ShowRefusedCharacter(queue_->noteEdit(), c);
    return;
  }
  // The ids are those of the rows on screen when asked: an alarm that comes
  // while the question is open waits for the operator to see it. "Нет" is
  // the answer a stray key gives.
  if (all) {
    const QString question = QStringLiteral("Подтвердить все тревоги в очереди (%1)?\n\n%2")
                                 .arg(ids.size())
                                 .arg(AlarmQueueWindow::CountsText(queue_->shownView(), true));
    if (!host_.ask({question.toStdString(), "Очередь тревог", MessageIcon::Question}, queue_, false)) return;
  }
  AlarmDesk* desk = desk_;
  const std::string text = note.toStdString();
  host_.post([desk, ids, text] { desk->Acknowledge(ids, text); });
  queue_->noteEdit()->clear();
}

void AlarmCommandsUi::recordAction(std::uint64_t id) {
  if (desk_ == nullptr || !queue_) return;
  // The calls the plan offers, in its calling order.
  AlarmActionDialog dialog(queue_->alarmLine(id), KeyHolderCalls(queue_->planOf(id)), queue_);
  if (ExecWindowModal(dialog) != QDialog::Accepted) return;
  const QString detail = dialog.detail();
  if (QChar c = FirstUnfitCharacter(detail); !c.isNull()) {
    host_.showMessage({"Символ «" + QString(c).toStdString() + "» нельзя записать в протокол; действие не записано.",
                       "", MessageIcon::Exclamation},
                      queue_);
    return;
  }
  AlarmDesk* desk = desk_;
  host_.post([desk, id, code = dialog.code().toStdString(), text = detail.toStdString()] {
    desk->AddAction(id, code, text);
  });
}

void AlarmCommandsUi::closeAlarm(std::uint64_t id) {
  if (desk_ == nullptr || !queue_) return;
  CloseAlarmDialog dialog(queue_->alarmLine(id), queue_);
  if (ExecWindowModal(dialog) != QDialog::Accepted || dialog.outcome().isEmpty()) return;
  if (QChar c = FirstUnfitCharacter(dialog.note()); !c.isNull()) {
    host_.showMessage({"Символ «" + QString(c).toStdString() + "» нельзя записать в протокол; тревога не закрыта.",
                       "", MessageIcon::Exclamation},
                      queue_);
    return;
  }
  AlarmDesk* desk = desk_;
  host_.post([desk, id, outcome = dialog.outcome().toStdString(), note = dialog.note().toStdString()] {
    desk->Close(id, outcome, note);
  });
}

}  // namespace pelvaron::ui
