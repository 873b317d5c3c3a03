#pragma once

// The event store and the alarm queue as the console programs run them.

#include "alarms/event_records.h"
#include "app/options.h"
#include "platform/real_file_system.h"
#include "platform/system_clock.h"

namespace pelvaron {

// The records of a console in the working folder: events.sqlite and the
// priority table (priorities.txt when there is one). The alarm queue sounds
// in the window always, and without one when --alarm-sound or --alarm-beep
// asks for it (a service must not beep unasked).
struct ProgramRecords {
  ProgramRecords(const Options& options, bool window);

  RealFileSystem files;
  SystemClock clock;
  EventRecords records;
};

}  // namespace pelvaron
