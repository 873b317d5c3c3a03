#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWindow>

#include <algorithm>
#include <functional>
#include <string>

#include "alarms/alarm_desk.h"
#include "widgets/command_host.h"

namespace pelvaron::ui {

class AlarmQueueWindow;
class HistoryWindow;
class ReportDialog;
class StationCommandsUi;

// The "Тревоги" menu: the alarm queue's window and the history window, and
// the way between the queue's window and the alarm desk on the console's
// thread. The queue's window comes to the front by itself when an alarm of a
// priority that asks for it arrives, and with F9 from any of the program's
// windows. It is a window of its own, not the main window's: a box or a
// dialog over the main window never blocks it.
class AlarmCommandsUi : public QObject {
  Q_OBJECT
 public:
  static constexpr Qt::Key kQueueKey = Qt::Key_F9;

  explicit AlarmCommandsUi(CommandHost& host, QObject* parent = nullptr);
  ~AlarmCommandsUi() override;

  // Joins the desk (used only on the console's thread) and the store the
  // history reads. Before the console starts.
  void attach(AlarmDesk& desk, std::string storePath);
  // The part of the screen the queue's window must leave free when it
  // opens (the main window's status strip), in screen coordinates.
  void setKeepClear(std::function<QRect()> keepClear) { keepClear_ = std::move(keepClear); }

  // The operators and the plans: the plan beside the queue, "План…", the
  // key holders a call offers. Before the queue's window opens.
  void attachStation(StationCommandsUi& station);
  // The operators' and the plans' items at the end of the "Тревоги" menu.
  void addStationItems(QMenu* alarmsMenu);

  void onAlarmQueue();
  void onEventHistory();
  void onReports();
  // F9: the queue in front, the keyboard on its oldest alarm of the highest priority.
  void showQueueAtTopAlarm();

  // The windows once opened, else nullptr.
  AlarmQueueWindow* queueWindow() const;
  HistoryWindow* historyWindow() const;
  ReportDialog* reportDialog() const;
  const AlarmView& view() const { return view_; }
  // Some alarm nobody has acknowledged yet.
  bool alarmsWaiting() const {
    return std::any_of(view_.rows.begin(), view_.rows.end(), [](const AlarmRow& r) { return !r.entry.acknowledged; });
  }

 public slots:
  void setView(const pelvaron::AlarmView& view);
  // The audible alarm fails (text in red, lasting, the window brought to the
  // front while alarms wait) or works again.
  void setSoundWarning(const QString& text, bool failing);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  AlarmQueueWindow* ensureQueueWindow();
  // "Действие…" and "Закрыть…": asked in a dialog, then done on the console's thread.
  void recordAction(std::uint64_t id);
  void closeAlarm(std::uint64_t id);
  void bringToFront(bool activate);
  void place(AlarmQueueWindow* w);
  QRect placeNow(AlarmQueueWindow* w);  // the geometry it gave
  void placeAgainIfHiding();
  void placeAnyway();
  void acknowledge(const std::vector<std::uint64_t>& ids, const QString& note, bool all);
  void editPlan(std::uint64_t id);
  std::string priorityName(const AlarmRow& row) const;
  void updateStationItems();

  CommandHost& host_;
  AlarmDesk* desk_ = nullptr;
  std::string storePath_;
  AlarmView view_;
  QString soundText_;
  bool soundFailing_ = false;
  std::function<QRect()> keepClear_;
  QPointer<AlarmQueueWindow> queue_;
  QPointer<HistoryWindow> history_;
  QPointer<ReportDialog> reports_;
  StationCommandsUi* station_ = nullptr;
  QPointer<QAction> signIn_, changeShift_, signOut_;
  bool placed_ = false;
  QPointer<QWindow> placeWhenExposed_;  // the main window, not yet where the window manager puts it
  QRect placedAt_;                      // where the queue was put, until the operator moves it
};

}  // namespace pelvaron::ui
