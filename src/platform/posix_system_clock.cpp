#include <cerrno>
#include <ctime>

#include "platform/system_clock.h"

namespace pelvaron {

std::int64_t SystemClock::Now() {
  return static_cast<std::int64_t>(std::time(nullptr));
}

bool SystemClock::ToLocalTime(std::int64_t t, std::tm& out) {
  std::time_t tt = static_cast<std::time_t>(t);
  return localtime_r(&tt, &out) != nullptr;
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
