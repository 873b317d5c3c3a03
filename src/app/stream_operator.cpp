#include "app/stream_operator.h"

namespace pelvaron {

StreamOperator::StreamOperator(std::ostream& log, std::ostream& messages, Clock& clock,
                               std::string programName)
    : log_(log), messages_(messages), clock_(clock), programName_(std::move(programName)) {}

std::string StreamOperator::Format(const OperatorMessage& message) const {
  std::string text;
  for (std::size_t i = 0; i < message.text.size(); ++i) {
    char c = message.text[i];
    if (c == '\r') continue;
    if (c == '\n') {
      if (!text.empty() && text.back() != ' ') text += ' ';
      continue;
    }
    if (c == ' ' && !text.empty() && text.back() == ' ' && i > 0 && message.text[i - 1] == '\n') continue;
    text += c;
  }
  return (message.title.empty() ? programName_ : message.title) + ": " + text;
}

void StreamOperator::ShowMessage(const OperatorMessage& message) {
  std::string line = Format(message);
  std::int64_t now = clock_.MonotonicMs();
  if (line == last_ && now - lastShownMs_ < kRepeatQuietMs) {
    ++heldBack_;
    return;
  }
  if (line == last_ && heldBack_ > 0) {
    messages_ << line << " (and " << heldBack_ << " times more in the last minute)\n";
  } else {
    if (heldBack_ > 0) messages_ << last_ << " (" << heldBack_ << " times more)\n";
    messages_ << line << "\n";
  }
  messages_.flush();
  last_ = line;
  lastShownMs_ = now;
  heldBack_ = 0;
}

void StreamOperator::LogLineAdded(const std::string& line) {
  log_ << line << "\n";
  log_.flush();
}

}  // namespace pelvaron
