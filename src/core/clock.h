#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace pelvaron {

// Time as the core sees it. Tests inject a fake that advances only when told.
class Clock {
 public:
  virtual ~Clock() = default;

  // Calendar time in seconds since the epoch.
  virtual std::int64_t Now() = 0;
  // Local-time breakdown of a calendar time; false when it cannot be converted.
  virtual bool ToLocalTime(std::int64_t t, std::tm& out) = 0;
  // Milliseconds on a clock that never jumps.
  virtual std::int64_t MonotonicMs() = 0;
  // Sleeps (never spins) for the given milliseconds of the monotonic clock.
  virtual void SleepMs(int ms) = 0;
};

// strftime into a std::string; empty when the result does not fit 255 bytes.
std::string FormatTime(const std::tm& tm, const char* format);

}  // namespace pelvaron
