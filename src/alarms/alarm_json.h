#pragma once

#include <string>

#include "alarms/alarm_desk.h"

namespace pelvaron {

// The alarm queue as the broker shows it (pelvaron/<station>/alarms):
// {"alarms":[...]} in the window's order, each entry as the window shows it,
// times as the events write them. docs/events.md names every member.
std::string AlarmsJson(const AlarmView& view);

}  // namespace pelvaron
