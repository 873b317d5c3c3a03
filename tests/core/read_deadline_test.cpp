#include "core/read_deadline.h"

#include <gtest/gtest.h>

namespace pelvaron {
namespace {

constexpr std::int64_t kMs = 1000;
// The time-outs the receiver link sets.
constexpr CommTimeouts kReceiverTimeouts{10, 10, 50, 40, 40};

TEST(ReadDeadlineTest, TotalTimeOutIsTenPerByteAndFifty) {
  for (auto [asked, totalMs] : {std::pair{4, 90}, {8, 130}, {20, 250}}) {
    ReadDeadline d(kReceiverTimeouts, static_cast<std::size_t>(asked), 1000 * kMs);
    EXPECT_EQ(d.RemainingUs(1000 * kMs), totalMs * kMs) << asked;
    EXPECT_EQ(d.RemainingUs((1000 + totalMs - 1) * kMs), kMs);
    EXPECT_EQ(d.RemainingUs((1000 + totalMs) * kMs), 0);
    EXPECT_EQ(d.RemainingUs((5000) * kMs), 0);
  }
}

TEST(ReadDeadlineTest, IntervalCountsOnlyOnceTheFirstByteCame) {
  ReadDeadline d(kReceiverTimeouts, 20, 0);
  EXPECT_EQ(d.RemainingUs(100 * kMs), 150 * kMs);  // no byte yet: only the total bounds it
  d.BytesArrived(100 * kMs);
  EXPECT_EQ(d.RemainingUs(100 * kMs), 10 * kMs);
  EXPECT_EQ(d.RemainingUs(105 * kMs), 5 * kMs);
  d.BytesArrived(105 * kMs);  // each byte restarts the interval
  EXPECT_EQ(d.RemainingUs(106 * kMs), 9 * kMs);
  EXPECT_EQ(d.RemainingUs(115 * kMs), 0);
  // Near the end the total wins over the interval.
  d.BytesArrived(245 * kMs);
  EXPECT_EQ(d.RemainingUs(246 * kMs), 4 * kMs);
}

TEST(ReadDeadlineTest, MillisecondsRoundUp) {
  ReadDeadline d(kReceiverTimeouts, 4, 0);
  EXPECT_EQ(d.RemainingMs(1), 90);  // 89.999 ms left
  EXPECT_EQ(d.RemainingMs(89 * kMs + 1), 1);
  EXPECT_EQ(d.RemainingMs(90 * kMs), 0);
}

TEST(ReadDeadlineTest, SpecialSettings) {
  CommTimeouts none{};
  ReadDeadline forever(none, 8, 0);
  EXPECT_EQ(forever.RemainingUs(1000000 * kMs), ReadDeadline::kForever);
  EXPECT_EQ(forever.RemainingMs(0), -1);

  CommTimeouts atOnce{CommTimeouts::kNoWait, 0, 0, 0, 0};
  EXPECT_EQ(ReadDeadline(atOnce, 8, 0).RemainingUs(0), 0);

  CommTimeouts intervalOnly{10, 0, 0, 0, 0};
  ReadDeadline d(intervalOnly, 8, 0);
  EXPECT_EQ(d.RemainingUs(500 * kMs), ReadDeadline::kForever);
  d.BytesArrived(500 * kMs);
  EXPECT_EQ(d.RemainingUs(500 * kMs), 10 * kMs);
}

}  // namespace
}  // namespace pelvaron
