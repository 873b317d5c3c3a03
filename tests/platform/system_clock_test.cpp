#include "platform/system_clock.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <ctime>

namespace pelvaron {
namespace {

// The clock keeps a minute's conversion; every second of it, across minute
// boundaries, a change to summer time and a clock set back, must read as the
// C library reads it.
TEST(SystemClock, LocalTimeReadsAsTheCLibraryAtEverySecond) {
  const char* old = getenv("TZ");
  const std::string saved = old ? old : "";
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  SystemClock clock;
  const std::int64_t summer = 1774746000;  // 2026-03-29 01:00:00 UTC: 02:00 becomes 03:00
  std::vector<std::int64_t> times;
  for (std::int64_t t = summer - 150; t < summer + 150; ++t) times.push_back(t);
  for (std::int64_t t : {summer + 30, summer - 61, summer - 59, summer + 3600, summer - 1}) times.push_back(t);
  for (std::int64_t t : times) {
    std::tm ours{}, theirs{};
    ASSERT_TRUE(clock.ToLocalTime(t, ours));
    const std::time_t tt = static_cast<std::time_t>(t);
    ASSERT_NE(localtime_r(&tt, &theirs), nullptr);
    ASSERT_EQ(std::mktime(&ours), tt) << t;
    EXPECT_EQ(ours.tm_hour, theirs.tm_hour) << t;
    EXPECT_EQ(ours.tm_min, theirs.tm_min) << t;
    EXPECT_EQ(ours.tm_sec, theirs.tm_sec) << t;
    EXPECT_EQ(ours.tm_isdst, theirs.tm_isdst) << t;
  }
  if (old) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

// The wall clock is read without time(): it must still be the same second
// (time() may trail the precise clock by a scheduler tick at a second's turn).
TEST(SystemClock, NowIsTheCLibrarysTime) {
  SystemClock clock;
  const std::int64_t before = static_cast<std::int64_t>(std::time(nullptr));
  const std::int64_t now = clock.Now();
  const std::int64_t after = static_cast<std::int64_t>(std::time(nullptr));
  EXPECT_GE(now, before);
  EXPECT_LE(now, after + 1);
}

}  // namespace
}  // namespace pelvaron
