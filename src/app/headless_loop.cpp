#include "app/headless_loop.h"

namespace pelvaron {

int RunTickLoop(Clock& clock, const ShutdownWait& wait, int tickMs, const std::function<void()>& tick) {
  std::int64_t next = clock.MonotonicMs() + tickMs;
  while (true) {
    // The wait for the next tick is also the wait for a shutdown request.
    std::int64_t now = clock.MonotonicMs();
    do {
      if (int request = wait(next > now ? next - now : 0); request > 0) return request;
    } while ((now = clock.MonotonicMs()) < next);
    tick();
    next += tickMs;
    now = clock.MonotonicMs();
    if (next < now) next = now;  // a late tick is taken late; missed ones are not made up
  }
}

int RunHeadless(Console& console, Clock& clock, const ShutdownWait& wait, int tickMs,
                const std::function<void()>& afterTick) {
  const int request = RunTickLoop(clock, wait, tickMs, [&] {
    console.OnTimer();
    if (afterTick) afterTick();
  });
  console.Shutdown();
  return request;
}

}  // namespace pelvaron
