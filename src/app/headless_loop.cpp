#include "app/headless_loop.h"

namespace pelvaron {

int RunHeadless(Console& console, Clock& clock, const ShutdownWait& wait, int tickMs,
                const std::function<void()>& afterTick) {
  const int request = RunTickLoop(clock, wait, tickMs, [&](std::int64_t) {
    console.OnTimer();
    if (afterTick) afterTick();
  });
  console.Shutdown();
  return request;
}

}  // namespace pelvaron
