#pragma once

#include <cstdint>
#include <functional>

#include "app/console.h"
#include "core/clock.h"
#include "core/tick_path.h"

namespace pelvaron {

// Waits at most ms milliseconds for a request to shut down (ms 0: only looks).
// Returns what asked (a signal number, > 0), or 0 when none came; it may
// return 0 early, and is then asked again for the time left.
using ShutdownWait = std::function<int(std::int64_t ms)>;

// Calls tick every tickMs of the monotonic clock, the first one period after
// the start, with the time the tick after it is due; a late tick is taken
// late and missed ones are not made up (one that ends a little after the
// next is due, as a tick whose read waited for it does, keeps the others on
// their times). Ends
// when wait reports a shutdown request, never in the middle of a tick, and
// returns what wait reported. Wait is asked at least once between two ticks,
// also when the ticks run late, so that a request is never starved.
// A template, so that a program's wait and tick are called directly, not
// through std::function's thunks on pages of their own; always inlined, so
// that it runs in the caller's section (GCC gives a template's instances none).
template <class Wait, class Tick>
[[gnu::always_inline]] inline int RunTickLoop(Clock& clock, const Wait& wait, int tickMs, const Tick& tick) {
  std::int64_t next = clock.MonotonicMs() + tickMs;
  while (true) {
    // The wait for the next tick is also the wait for a shutdown request.
    std::int64_t now = clock.MonotonicMs();
    do {
      if (int request = wait(next > now ? next - now : 0); request > 0) return request;
    } while ((now = clock.MonotonicMs()) < next);
    tick(next + tickMs);
    next += tickMs;
    now = clock.MonotonicMs();
    if (next + tickMs / 10 < now) next = now;  // a late tick is taken late; missed ones are not made up
  }
}

// The console without a window: ticks it every tickMs (500 for a station)
// until wait reports a shutdown request, then shuts it down in order (the
// closing protocol line is written). afterTick, when given, runs after each
// tick (the service manager's watchdog). Returns what wait reported.
int RunHeadless(Console& console, Clock& clock, const ShutdownWait& wait, int tickMs = 500,
                const std::function<void()>& afterTick = {});

}  // namespace pelvaron
