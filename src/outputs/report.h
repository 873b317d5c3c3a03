#pragma once

#include <signal.h>

#include <ctime>
#include <functional>
#include <mutex>
#include <set>
#include <string>

namespace pelvaron {

// How an output tells the operator about its trouble: one line of Russian
// text. Called from the outputs' own threads; the program hands it on to
// wherever the operator looks (stderr, the window).
using Report = std::function<void(const std::string& text)>;

// Writes to a pipe whose reader has gone fail with EPIPE instead of ending the
// process: SIGPIPE stays blocked on the calling thread (an output's own), and
// one that is pending is taken away.
inline void KeepPipeSignalsAway() {
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  timespec none{};
  while (sigtimedwait(&pipe, nullptr, &none) == SIGPIPE) {
  }
}

// Tells each cause of trouble once, not once per event: a dead broker or a
// full disk is one message, however many events it stops. After the output
// works again the causes are forgotten (and that is said once), so the next
// outage is told anew.
class CauseReporter {
 public:
  explicit CauseReporter(Report report) : report_(std::move(report)) {}

  // Reports text unless cause was reported since the last Recovered.
  void Trouble(const std::string& cause, const std::string& text) {
    std::unique_lock lock(mutex_);
    if (!causes_.insert(cause).second) return;
    lock.unlock();
    if (report_) report_(text);
  }
  // The output works again: says text when trouble had been reported.
  void Recovered(const std::string& text) {
    std::unique_lock lock(mutex_);
    if (causes_.empty()) return;
    causes_.clear();
    lock.unlock();
    if (report_ && !text.empty()) report_(text);
  }
  bool InTrouble() const {
    std::lock_guard lock(mutex_);
    return !causes_.empty();
  }

 private:
  Report report_;
  mutable std::mutex mutex_;
  std::set<std::string> causes_;
};

}  // namespace pelvaron
