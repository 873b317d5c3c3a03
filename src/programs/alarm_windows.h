#pragma once

namespace pelvaron::ui {
class AlarmCommandsUi;
class StationCommandsUi;
class WindowShell;
}  // namespace pelvaron::ui

namespace pelvaron {

// The alarm queue's and the history's windows joined to the window of a
// console: the "Тревоги" menu, the sound's warning in the queue, messages as
// notices while alarms wait, and the queue opening beside the status strip.
void JoinAlarmWindows(ui::WindowShell& shell, ui::AlarmCommandsUi& alarms);

// The operators and the plans joined to the same window: their items at the
// end of "Тревоги", the plan beside the queue, "План реагирования…" in the
// object list's right click. Start the station's part once the window shows.
void JoinStationWindows(ui::WindowShell& shell, ui::AlarmCommandsUi& alarms, ui::StationCommandsUi& station);

}  // namespace pelvaron
