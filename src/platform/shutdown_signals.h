#pragma once

#include <atomic>

#include "app/console.h"
#include "core/clock.h"

namespace pelvaron {

// Blocks SIGINT and SIGTERM in the calling thread and in every thread it
// starts afterwards, so that only the headless loop takes them. Call first.
void BlockShutdownSignals();

// Waits for SIGINT or SIGTERM and returns it, or 0 once stop is set (looked
// at a few times a second). For shells whose own loop cannot wait for signals.
int WaitForShutdownSignal(const std::atomic<bool>& stop);

// Ticks the console every tickMs (500 for a station; a late tick is taken
// late, missed ones are not made up) until SIGINT or SIGTERM, then shuts it
// down in order. Returns the signal that ended it.
int RunHeadless(Console& console, Clock& clock, int tickMs = 500);

}  // namespace pelvaron
