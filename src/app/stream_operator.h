#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/operator.h"

namespace pelvaron {

// The operator of a console without a window: event log lines to one stream,
// messages to another, one line each. A message that repeats is printed once
// a minute at most while it repeats, with the number of times it came since
// it was last printed ("(повторилось 12 раз)"); when it has not come again for
// a minute, one line says it stopped; what is still held back is printed by Flush
// (at exit). So a lasting fault (a full disk, a missing port) neither floods
// the stream nor loses its count. Several messages are followed at once.
class StreamOperator : public Operator {
 public:
  static constexpr std::int64_t kRepeatQuietMs = 60000;

  StreamOperator(std::ostream& log, std::ostream& messages, Clock& clock, std::string programName);

  // Each message line starts with its syslog priority ("<3>" for an error),
  // for the journal when the service manager reads the stream.
  void SetJournalPriorities(bool on) { journal_ = on; }

  void ShowMessage(const OperatorMessage& message) override;
  void LogLineAdded(const std::string& line) override;
  // Comes every tick: notices repetitions that stopped.
  void Redisplay(const StatusView& status) override;

  // Prints the counts still held back.
  void Flush();

  // The message as one line: "title: text", line breaks turned to spaces.
  std::string Format(const OperatorMessage& message) const;
  // "повторилось N раз" with the right form of the word.
  static std::string RepeatCount(int times);

 private:
  struct Repeat {
    std::string line;
    int priority = 0;
    std::int64_t shownMs = 0;  // when the line was last printed
    std::int64_t lastMs = 0;   // when it last came
    int held = 0;              // times it came since it was last printed
    bool repeated = false;     // it came more than once
  };
  void Print(const std::string& line, int priority);
  void Housekeep(std::int64_t now);

  std::ostream& log_;
  std::ostream& messages_;
  Clock& clock_;
  std::string programName_;
  bool journal_ = false;
  std::vector<Repeat> repeats_;
};

}  // namespace pelvaron
