#include "app/stream_operator.h"

#include <algorithm>

namespace pelvaron {
namespace {

// Syslog priorities of the message kinds: the boxes without an icon are the
// system's error reports ("Error in opening protocol file"), so a warning.
int PriorityOf(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Error:
      return 3;
    case MessageIcon::Information:
      return 6;
    default:
      return 4;
  }
}

// Followed at once; more distinct messages than this push out the oldest.
constexpr std::size_t kMaxFollowed = 32;

}  // namespace

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

std::string StreamOperator::RepeatCount(int times) {
  const int lastTwo = times % 100, last = times % 10;
  const bool few = last >= 2 && last <= 4 && !(lastTwo >= 12 && lastTwo <= 14);
  return "повторилось " + std::to_string(times) + (few ? " раза" : " раз");
}

void StreamOperator::Print(const std::string& line, int priority) {
  if (journal_) messages_ << '<' << priority << '>';
  messages_ << line << '\n';
  messages_.flush();
}

void StreamOperator::Housekeep(std::int64_t now) {
  for (auto it = repeats_.begin(); it != repeats_.end();) {
    if (now - it->lastMs < kRepeatQuietMs) {
      ++it;
      continue;
    }
    if (it->held > 0) {
      Print(it->line + " (" + RepeatCount(it->held) + ", больше не повторяется)", it->priority);
    } else if (it->repeated) {
      Print(it->line + " (больше не повторяется)", it->priority);
    }
    it = repeats_.erase(it);
  }
}

void StreamOperator::ShowMessage(const OperatorMessage& message) {
  const std::int64_t now = clock_.MonotonicMs();
  Housekeep(now);
  std::string line = Format(message);
  auto it = std::find_if(repeats_.begin(), repeats_.end(), [&](const Repeat& r) { return r.line == line; });
  if (it == repeats_.end()) {
    if (repeats_.size() >= kMaxFollowed) {
      Repeat& oldest = repeats_.front();
      if (oldest.held > 0) Print(oldest.line + " (" + RepeatCount(oldest.held) + ")", oldest.priority);
      repeats_.erase(repeats_.begin());
    }
    Print(line, PriorityOf(message.icon));
    repeats_.push_back({std::move(line), PriorityOf(message.icon), now, now, 0, false});
    return;
  }
  it->lastMs = now;
  it->repeated = true;
  ++it->held;
  if (now - it->shownMs < kRepeatQuietMs) return;
  Print(it->line + " (" + RepeatCount(it->held) + ")", it->priority);
  it->shownMs = now;
  it->held = 0;
}

void StreamOperator::LogLineAdded(const std::string& line) {
  log_ << line << "\n";
  log_.flush();
}

void StreamOperator::Redisplay(const StatusView&) {
  if (!repeats_.empty()) Housekeep(clock_.MonotonicMs());
}

void StreamOperator::Flush() {
  for (const Repeat& r : repeats_) {
    if (r.held > 0) Print(r.line + " (" + RepeatCount(r.held) + ")", r.priority);
  }
  repeats_.clear();
}

}  // namespace pelvaron
