#pragma once

#include <QObject>
#include <QPointer>

#include <string>

#include "alarms/alarm_desk.h"
#include "widgets/command_host.h"

namespace pelvaron::ui {

class AlarmQueueWindow;
class HistoryWindow;

// The "Тревоги" menu: the alarm queue's window and the history window, and
// the way between the queue's window and the alarm desk on the console's
// thread. The queue's window comes to the front by itself when an alarm of a
// priority that asks for it arrives.
class AlarmCommandsUi : public QObject {
  Q_OBJECT
 public:
  explicit AlarmCommandsUi(CommandHost& host, QObject* parent = nullptr);
  ~AlarmCommandsUi() override;

  // Joins the desk (used only on the console's thread) and the store the
  // history reads. Before the console starts.
  void attach(AlarmDesk& desk, std::string storePath);

  void onAlarmQueue();
  void onEventHistory();

  // The windows once opened, else nullptr.
  AlarmQueueWindow* queueWindow() const;
  HistoryWindow* historyWindow() const;
  const AlarmView& view() const { return view_; }

 public slots:
  void setView(const pelvaron::AlarmView& view);

 private:
  AlarmQueueWindow* ensureQueueWindow();
  void acknowledge(const std::vector<std::uint64_t>& ids, const QString& note, bool all);

  CommandHost& host_;
  AlarmDesk* desk_ = nullptr;
  std::string storePath_;
  AlarmView view_;
  QPointer<AlarmQueueWindow> queue_;
  QPointer<HistoryWindow> history_;
};

}  // namespace pelvaron::ui
