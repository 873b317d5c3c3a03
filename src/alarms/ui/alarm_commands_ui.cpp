#include "alarms/ui/alarm_commands_ui.h"

#include <QWidget>

#include "alarms/ui/alarm_queue_window.h"
#include "alarms/ui/history_window.h"
#include "store/event_store.h"
#include "widgets/edits.h"

namespace pelvaron::ui {

AlarmCommandsUi::AlarmCommandsUi(CommandHost& host, QObject* parent)
    : QObject(parent), host_(host), storePath_(kEventStoreFileName) {}

AlarmCommandsUi::~AlarmCommandsUi() {
  // The console's thread has ended by now (the shell stops it first).
  if (desk_ != nullptr) desk_->SetListener({});
  delete queue_.data();
  delete history_.data();
}

AlarmQueueWindow* AlarmCommandsUi::queueWindow() const {
  return queue_.data();
}

HistoryWindow* AlarmCommandsUi::historyWindow() const {
  return history_.data();
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
    queue_ = new AlarmQueueWindow(host_.dialogOwner());
    queue_->setView(view_);
    connect(queue_, &AlarmQueueWindow::acknowledgeRequested, this, &AlarmCommandsUi::acknowledge);
  }
  return queue_;
}

void AlarmCommandsUi::onAlarmQueue() {
  AlarmQueueWindow* w = ensureQueueWindow();
  w->setAttribute(Qt::WA_ShowWithoutActivating, false);
  w->show();
  w->raise();
  w->activateWindow();
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

void AlarmCommandsUi::setView(const AlarmView& view) {
  view_ = view;
  if (queue_) queue_->setView(view);
  if (!view.raise) return;
  // In front, but the keyboard stays where the operator is typing: a key
  // meant for another window must not act on the new alarm.
  AlarmQueueWindow* w = ensureQueueWindow();
  w->setAttribute(Qt::WA_ShowWithoutActivating);
  if (w->isMinimized()) w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
  w->show();
  w->raise();
}

void AlarmCommandsUi::acknowledge(const std::vector<std::uint64_t>& ids, const QString& note, bool all) {
  if (desk_ == nullptr) return;
  if (QChar c = FirstUnfitCharacter(note); !c.isNull()) {
    ShowRefusedCharacter(queue_->noteEdit(), c);
    return;
  }
  // The ids are those of the rows on screen when asked: an alarm that comes
  // while the question is open waits for the operator to see it.
  if (all && !host_.ask({"Подтвердить все тревоги в очереди (" + std::to_string(ids.size()) + ")?",
                         "Очередь тревог", MessageIcon::Question},
                        queue_)) {
    return;
  }
  AlarmDesk* desk = desk_;
  const std::string text = note.toStdString();
  host_.post([desk, ids, text](Console&, ObjectCard&) { desk->Acknowledge(ids, text); });
  queue_->noteEdit()->clear();
}

}  // namespace pelvaron::ui
