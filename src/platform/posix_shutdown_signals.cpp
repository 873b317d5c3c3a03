#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/shutdown_signals.h"

namespace pelvaron {
namespace {

// The requests arrive on a signalfd, so that a wait in poll (the serial
// port's) can notice them too; the first one taken is kept for everyone.
std::atomic<int> signalFd{-1};
std::atomic<int> requested{0};

sigset_t ShutdownSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

// Takes a pending request off the descriptor, if there is one.
int Take() {
  const int fd = signalFd.load();
  if (fd < 0) return requested.load();
  signalfd_siginfo info{};
  while (requested.load() == 0) {
    ssize_t n = read(fd, &info, sizeof info);
    if (n == static_cast<ssize_t>(sizeof info)) {
      int expected = 0;
      requested.compare_exchange_strong(expected, static_cast<int>(info.ssi_signo));
      break;
    }
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  return requested.load();
}

}  // namespace

void BlockShutdownSignals() {
  sigset_t set = ShutdownSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  if (signalFd.load() < 0) signalFd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

int ShutdownRequested() {
  if (int s = requested.load()) return s;
  return Take();
}

int ShutdownTaken() {
  return requested.load();
}

int ShutdownSignalFd() {
  return signalFd.load();
}

int WaitForShutdownSignalFor(std::int64_t ms) {
  if (ms <= 0) return ShutdownRequested();
  if (int s = requested.load()) return s;
  const int fd = signalFd.load();
  if (fd < 0) {
    // Not set up: the signals are taken straight from the blocked set.
    const sigset_t set = ShutdownSignals();
    timespec timeout{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    int s = sigtimedwait(&set, nullptr, &timeout);
    if (s > 0) {
      int expected = 0;
      requested.compare_exchange_strong(expected, s);
    }
    return requested.load();
  }
  pollfd p{fd, POLLIN, 0};
  timespec timeout{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  if (ppoll(&p, 1, &timeout, nullptr) > 0) return Take();
  return 0;
}

int WaitForShutdownSignal(const std::atomic<bool>& stop) {
  while (!stop.load()) {
    if (int s = WaitForShutdownSignalFor(200); s > 0) return s;
  }
  return 0;
}

}  // namespace pelvaron
