#include <poll.h>
#include <signal.h>

#include <cerrno>
#include <ctime>

#include "platform/shutdown_signals.h"

namespace pelvaron {
namespace {

// The requests stay blocked but while a wait (ppoll with waitMask) runs, so
// they are taken only there: the handler keeps the first one for everyone
// and the wait ends with EINTR. A wait on a signalfd would do the same at the
// cost of a second descriptor in every poll of the line, which costs an idle
// tick more than all else it does.
std::atomic<int> requested{0};
std::atomic<bool> blocked{false};
sigset_t waitMask;

sigset_t ShutdownSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

void Keep(int signal) {
  int expected = 0;
  requested.compare_exchange_strong(expected, signal);
}

extern "C" void OnShutdownSignal(int signal) {
  Keep(signal);
}

// Takes a request that waits in the blocked set, without waiting for one.
int Take() {
  if (int s = requested.load()) return s;
  const sigset_t set = ShutdownSignals();
  timespec none{};
  int s = -1;
  do {
    s = sigtimedwait(&set, nullptr, &none);
  } while (s < 0 && errno == EINTR);
  if (s > 0) Keep(s);
  return requested.load();
}

}  // namespace

void BlockShutdownSignals() {
  if (blocked.load()) return;
  sigset_t set = ShutdownSignals();
  sigset_t before;
  pthread_sigmask(SIG_BLOCK, &set, &before);
  waitMask = before;
  sigdelset(&waitMask, SIGINT);
  sigdelset(&waitMask, SIGTERM);
  sigdelset(&waitMask, SIGHUP);
  struct sigaction action {};
  action.sa_handler = OnShutdownSignal;
  sigfillset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: the wait it cut short returns EINTR
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  blocked = true;
}

int ShutdownRequested() {
  return Take();
}

int ShutdownTaken() {
  return requested.load();
}

const sigset_t* ShutdownWaitMask() {
  return blocked.load() ? &waitMask : nullptr;
}

int WaitForShutdownSignalFor(std::int64_t ms) {
  if (ms <= 0) return ShutdownRequested();
  if (int s = requested.load()) return s;
  timespec timeout{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  if (!blocked.load()) {
    // Not set up: the signals are taken straight from the set.
    const sigset_t set = ShutdownSignals();
    if (int s = sigtimedwait(&set, nullptr, &timeout); s > 0) Keep(s);
    return requested.load();
  }
  ppoll(nullptr, 0, &timeout, &waitMask);
  return requested.load();
}

int WaitForShutdownSignal(const std::atomic<bool>& stop) {
  while (!stop.load()) {
    if (int s = WaitForShutdownSignalFor(200); s > 0) return s;
  }
  return 0;
}

}  // namespace pelvaron
