#include <cerrno>
#include <ctime>

#include "platform/system_clock.h"

namespace pelvaron {

std::int64_t SystemClock::Now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::int64_t>(ts.tv_sec);
}

bool SystemClock::ToLocalTime(std::int64_t t, std::tm& out) {
  // Within one minute the local time only moves on by seconds (offsets and
  // their changes are whole minutes), so the tick's conversions, two a
  // second, are one localtime_r a minute.
  if (cachedValid_ && t >= cachedTime_ && t - cachedTime_ < 60 - cached_.tm_sec) {
    out = cached_;
    out.tm_sec += static_cast<int>(t - cachedTime_);
    return true;
  }
  std::time_t tt = static_cast<std::time_t>(t);
  if (localtime_r(&tt, &out) == nullptr) return false;
  cached_ = out;
  cachedTime_ = t;
  cachedValid_ = out.tm_sec < 60;  // never across a leap second
  return true;
}

std::int64_t SystemClock::MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void SystemClock::SleepMs(int ms) {
  if (ms <= 0) return;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  timespec until = now;
  until.tv_sec += ms / 1000;
  until.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (until.tv_nsec >= 1000000000L) {
    until.tv_sec += 1;
    until.tv_nsec -= 1000000000L;
  }
  // An absolute deadline survives signals: the wait resumes where it was.
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

}  // namespace pelvaron
