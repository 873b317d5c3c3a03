#include "programs/alarm_windows.h"

#include "alarms/ui/alarm_commands_ui.h"
#include "app/ui/console_shell.h"
#include "app/ui/console_window.h"

namespace pelvaron {

void JoinAlarmWindows(ui::WindowShell& shell, ui::AlarmCommandsUi& alarms) {
  ui::CConsoleDlg& window = shell.window();
  QObject::connect(&window, &ui::CConsoleDlg::alarmQueueRequested, &alarms, &ui::AlarmCommandsUi::onAlarmQueue);
  QObject::connect(&window, &ui::CConsoleDlg::eventHistoryRequested, &alarms, &ui::AlarmCommandsUi::onEventHistory);
  QObject::connect(&window, &ui::CConsoleDlg::reportsRequested, &alarms, &ui::AlarmCommandsUi::onReports);
  QObject::connect(&shell, &ui::WindowShell::soundWarning, &alarms, &ui::AlarmCommandsUi::setSoundWarning);
  shell.setMessagesAsNotices([&alarms] { return alarms.alarmsWaiting(); });
  alarms.setKeepClear([&window] { return window.statusStripOnScreen(); });
}

}  // namespace pelvaron
