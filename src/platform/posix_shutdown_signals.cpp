#include <signal.h>

#include <cerrno>
#include <ctime>

#include "platform/shutdown_signals.h"

namespace pelvaron {
namespace {

sigset_t ShutdownSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

void BlockShutdownSignals() {
  sigset_t set = ShutdownSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int WaitForShutdownSignal(const std::atomic<bool>& stop) {
  const sigset_t set = ShutdownSignals();
  while (!stop.load()) {
    timespec timeout{0, 200 * 1000000L};
    int s = sigtimedwait(&set, nullptr, &timeout);
    if (s > 0) return s;
  }
  return 0;
}

int RunHeadless(Console& console, Clock& clock, int tickMs) {
  const sigset_t set = ShutdownSignals();
  // The first tick comes one period after start-up, as from a window timer.
  std::int64_t next = clock.MonotonicMs() + tickMs;
  int signal = 0;
  while (true) {
    // The wait for the next tick is also the wait for a shutdown signal.
    std::int64_t now = 0;
    while (signal == 0 && (now = clock.MonotonicMs()) < next) {
      std::int64_t ms = next - now;
      timespec timeout{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
      int s = sigtimedwait(&set, nullptr, &timeout);
      if (s > 0) signal = s;
    }
    if (signal != 0) break;
    console.OnTimer();
    next += tickMs;
    now = clock.MonotonicMs();
    if (next < now) next = now;  // a late tick is taken late; missed ones are not made up
  }
  console.Shutdown();
  return signal;
}

}  // namespace pelvaron
