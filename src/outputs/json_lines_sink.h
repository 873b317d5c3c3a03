#pragma once

#include <cstdint>
#include <string>

#include "core/result.h"
#include "core/unique_fd.h"
#include "outputs/background_sink.h"
#include "outputs/report.h"

namespace pelvaron {

// --events PATH: every event as one line of JSON appended to a file, or to
// stdout for "-". A line is written whole or not at all: a write cut short
// (a full disk) is taken back, and the event is tried again a second later,
// nothing overtaking it. A file moved away or deleted (log rotation) is
// opened anew under its name.
class JsonLinesSink : public BackgroundSink {
 public:
  static constexpr std::size_t kCapacity = 10000;

  JsonLinesSink(std::string path, Report report, std::size_t capacity = kCapacity);
  ~JsonLinesSink() override;

  // Opens (or creates) the file for appending. One that cannot be opened is
  // told at the first event and tried again with each.
  Result<> Open();

 protected:
  bool Deliver(const Event& event) override;
  void Overflow(const Event& event) override;
  int RetryDelayMs() const override { return 1000; }

 private:
  bool WriteLine(const std::string& line);
  void ReopenIfMoved();

  std::string path_;
  CauseReporter reporter_;
  UniqueFd file_;          // the file named; stdout is not ours to close
  Problem openProblem_;    // why the file could not be opened last
  int Fd() const;
  bool stdout_ = false;
  std::string line_;
};

}  // namespace pelvaron
