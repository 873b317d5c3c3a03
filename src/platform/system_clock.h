#pragma once

#include <ctime>

#include "core/clock.h"

namespace pelvaron {

// The machine's clocks: local time from the C library, sleeps on CLOCK_MONOTONIC.
class SystemClock : public Clock {
 public:
  std::int64_t Now() override;
  bool ToLocalTime(std::int64_t t, std::tm& out) override;
  std::int64_t MonotonicMs() override;
  void SleepMs(int ms) override;

 private:
  std::tm cached_{};
  std::int64_t cachedTime_ = 0;
  bool cachedValid_ = false;
};

}  // namespace pelvaron
