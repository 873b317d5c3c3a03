#include "programs/alarm_windows.h"

#include <QMenu>
#include <QMenuBar>
#include <QTreeWidget>

#include "alarms/ui/alarm_commands_ui.h"
#include "app/ui/console_shell.h"
#include "app/ui/console_window.h"
#include "objects/ui/object_list.h"
#include "res/resources.h"
#include "station/ui/station_commands_ui.h"

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

namespace pelvaron {

void JoinStationWindows(ui::WindowShell& shell, ui::AlarmCommandsUi& alarms, ui::StationCommandsUi& station) {
  ui::CConsoleDlg& window = shell.window();
  alarms.attachStation(station);
  for (QAction* top : window.mainMenuBar()->actions()) {
    if (top->menu() != nullptr && top->text() == QStringLiteral("Тревоги")) alarms.addStationItems(top->menu());
  }
  window.setObjectMenuExtras([&window, &station](QMenu& menu, int row) {
    ui::AddObjectPlanItem(&menu, window.control<QTreeWidget>(res::IDC_OBJECT_LIST), row,
                          [&station](const std::string& address) { station.editPlan(address, ""); });
  });
}

}  // namespace pelvaron
