#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "core/clock.h"
#include "core/operator.h"

namespace pelvaron {

// The operator of a console without a window: event log lines to one stream,
// messages to another, one line each. A message that repeats is printed once
// a minute at most while it repeats, with the count of the ones held back, so
// a lasting fault (a full disk, a missing port) does not flood the stream.
class StreamOperator : public Operator {
 public:
  static constexpr std::int64_t kRepeatQuietMs = 60000;

  StreamOperator(std::ostream& log, std::ostream& messages, Clock& clock, std::string programName);

  void ShowMessage(const OperatorMessage& message) override;
  void LogLineAdded(const std::string& line) override;

  // The message as one line: "title: text", line breaks turned to spaces.
  std::string Format(const OperatorMessage& message) const;

 private:
  std::ostream& log_;
  std::ostream& messages_;
  Clock& clock_;
  std::string programName_;
  std::string last_;
  std::int64_t lastShownMs_ = 0;
  int heldBack_ = 0;
};

}  // namespace pelvaron
