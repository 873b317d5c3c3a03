#pragma once

#include <cstdint>
#include <functional>

#include "app/console.h"
#include "core/clock.h"

namespace pelvaron {

// Waits at most ms milliseconds for a request to shut down (ms 0: only looks).
// Returns what asked (a signal number, > 0), or 0 when none came; it may
// return 0 early, and is then asked again for the time left.
using ShutdownWait = std::function<int(std::int64_t ms)>;

// Calls tick every tickMs of the monotonic clock, the first one period after
// the start; a late tick is taken late and missed ones are not made up. Ends
// when wait reports a shutdown request, never in the middle of a tick, and
// returns what wait reported. Wait is asked at least once between two ticks,
// also when the ticks run late, so that a request is never starved.
int RunTickLoop(Clock& clock, const ShutdownWait& wait, int tickMs, const std::function<void()>& tick);

// The console without a window: ticks it every tickMs (500 for a station)
// until wait reports a shutdown request, then shuts it down in order (the
// closing protocol line is written). afterTick, when given, runs after each
// tick (the service manager's watchdog). Returns what wait reported.
int RunHeadless(Console& console, Clock& clock, const ShutdownWait& wait, int tickMs = 500,
                const std::function<void()>& afterTick = {});

}  // namespace pelvaron
