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

int WaitForShutdownSignalFor(std::int64_t ms) {
  const sigset_t set = ShutdownSignals();
  timespec timeout{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  int s = sigtimedwait(&set, nullptr, &timeout);
  return s > 0 ? s : 0;
}

int WaitForShutdownSignal(const std::atomic<bool>& stop) {
  while (!stop.load()) {
    if (int s = WaitForShutdownSignalFor(200); s > 0) return s;
  }
  return 0;
}

}  // namespace pelvaron
