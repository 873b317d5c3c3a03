#include "core/read_deadline.h"

#include <algorithm>
#include <limits>

namespace pelvaron {

ReadDeadline::ReadDeadline(const CommTimeouts& t, std::size_t asked, std::int64_t startUs) {
  const bool noTotal = t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
  if (t.ReadIntervalTimeout == CommTimeouts::kNoWait && noTotal) {
    returnAtOnce_ = true;
    return;
  }
  if (!noTotal) {
    hasTotal_ = true;
    std::int64_t ms =
        static_cast<std::int64_t>(t.ReadTotalTimeoutMultiplier) * static_cast<std::int64_t>(asked) +
        static_cast<std::int64_t>(t.ReadTotalTimeoutConstant);
    totalDeadlineUs_ = startUs + ms * 1000;
  }
  if (t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != CommTimeouts::kNoWait) {
    intervalUs_ = static_cast<std::int64_t>(t.ReadIntervalTimeout) * 1000;
  }
}

void ReadDeadline::BytesArrived(std::int64_t nowUs) {
  anyByte_ = true;
  lastByteUs_ = nowUs;
}

std::int64_t ReadDeadline::RemainingUs(std::int64_t nowUs) const {
  if (returnAtOnce_) return 0;
  std::int64_t deadline = std::numeric_limits<std::int64_t>::max();
  if (hasTotal_) deadline = totalDeadlineUs_;
  if (anyByte_ && intervalUs_ > 0) deadline = std::min(deadline, lastByteUs_ + intervalUs_);
  if (deadline == std::numeric_limits<std::int64_t>::max()) return kForever;
  return std::max<std::int64_t>(0, deadline - nowUs);
}

int ReadDeadline::RemainingMs(std::int64_t nowUs) const {
  std::int64_t us = RemainingUs(nowUs);
  if (us == kForever) return -1;
  std::int64_t ms = (us + 999) / 1000;
  return static_cast<int>(std::min<std::int64_t>(ms, std::numeric_limits<int>::max()));
}

}  // namespace pelvaron
