#include "events/event_sequence.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <vector>

namespace pelvaron {

EventSequence::EventSequence(FileSystem& fs, std::string path) : fs_(fs), path_(std::move(path)) {}

int EventSequence::Load() {
  next_ = 1;
  reservedUntil_ = 0;
  if (!fs_.Exists(path_)) return 0;
  std::vector<std::uint8_t> bytes;
  int err = fs_.ReadPrefix(path_, 64, bytes);
  if (err != 0) return lastError_ = err;
  const char* first = reinterpret_cast<const char*>(bytes.data());
  std::uint64_t mark = 0;
  auto [end, ec] = std::from_chars(first, first + bytes.size(), mark);
  if (ec == std::errc::result_out_of_range || (ec == std::errc() && mark > kLargest))
    return lastError_ = ERANGE;
  if (ec != std::errc() || end == first) return lastError_ = EINVAL;
  next_ = mark < 1 ? 1 : mark;
  return 0;
}

void EventSequence::ContinueAbove(std::uint64_t highest) {
  if (highest > kLargest) highest = kLargest;
  if (highest >= next_) next_ = highest + 1;
}

std::uint64_t EventSequence::Next() {
  if (next_ >= reservedUntil_) {
    const std::uint64_t until = next_ + kBlock;
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%llu\n", static_cast<unsigned long long>(until));
    lastError_ = fs_.ReplaceFile(path_, {reinterpret_cast<const std::uint8_t*>(text), static_cast<std::size_t>(n)});
    // Unwritten, the numbers still go on; the next one tries the file again.
    reservedUntil_ = lastError_ == 0 ? until : next_ + 1;
  }
  return next_++;
}

std::string IsoLocalTime(const std::tm& local) {
  long offset = local.tm_gmtoff / 60;
  const char sign = offset < 0 ? '-' : '+';
  if (offset < 0) offset = -offset;
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, sign, offset / 60,
                offset % 60);
  return text;
}

}  // namespace pelvaron
