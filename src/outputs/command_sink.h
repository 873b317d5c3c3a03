#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "outputs/background_sink.h"
#include "outputs/event_environment.h"
#include "outputs/report.h"

namespace pelvaron {

// --on-event COMMAND: the command run by /bin/sh for each event, one at a
// time on the output's own thread, with the event's JSON line on its stdin
// and its main fields in PELVARON_* variables. A run longer than the time
// limit is ended with its whole process group (SIGTERM, then SIGKILL a second
// later). The command's stdout goes to stderr, so it never mixes with an
// event stream on stdout. A failed run is not repeated: what failed is told
// once per cause.
class CommandSink : public BackgroundSink {
 public:
  static constexpr std::size_t kCapacity = 1000;
  static constexpr int kDefaultTimeoutMs = 10000;

  CommandSink(std::string command, int timeoutMs, Report report, std::size_t capacity = kCapacity);
  ~CommandSink() override;

  std::uint64_t Runs() const { return runs_.load(); }

 protected:
  bool Deliver(const Event& event) override;
  void Overflow(const Event& event) override;

 private:
  void TellOutcome(bool ended, int status);

  std::string command_;
  int timeoutMs_;
  CauseReporter reporter_;
  std::atomic<bool> closing_{false};
  std::atomic<std::uint64_t> runs_{0};
};

}  // namespace pelvaron
