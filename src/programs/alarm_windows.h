#pragma once

namespace pelvaron::ui {
class AlarmCommandsUi;
class WindowShell;
}  // namespace pelvaron::ui

namespace pelvaron {

// The alarm queue's and the history's windows joined to the window of a
// console: the "Тревоги" menu, the sound's warning in the queue, messages as
// notices while alarms wait, and the queue opening beside the status strip.
void JoinAlarmWindows(ui::WindowShell& shell, ui::AlarmCommandsUi& alarms);

}  // namespace pelvaron
