#include "outputs/background_sink.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

namespace pelvaron {
namespace {

Event Numbered(std::uint64_t seq) {
  Event e;
  e.seq = seq;
  return e;
}

// Delivers only while the test lets it, and remembers what it got.
class GatedSink : public BackgroundSink {
 public:
  explicit GatedSink(std::size_t capacity) : BackgroundSink(capacity) {}
  ~GatedSink() override { Stop(0); }

  void Open(bool open, bool accept = true) {
    std::lock_guard lock(m);
    open_ = open;
    accept_ = accept;
    cv.notify_all();
  }
  // Waits (without a clock of its own: on the deliveries) until n have come.
  void WaitFor(std::size_t n) {
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return delivered.size() >= n; });
  }
  void WaitForAttempts(int n) {
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return attempts >= n; });
  }

  std::mutex m;
  std::condition_variable cv;
  std::vector<std::uint64_t> delivered;
  std::vector<std::uint64_t> overflowed;
  int attempts = 0;

 protected:
  bool Deliver(const Event& event) override {
    std::unique_lock lock(m);
    ++attempts;
    cv.notify_all();
    cv.wait(lock, [&] { return open_; });
    if (!accept_) return false;
    delivered.push_back(event.seq);
    cv.notify_all();
    return true;
  }
  void Overflow(const Event& event) override {
    std::lock_guard lock(m);
    overflowed.push_back(event.seq);
  }
  int RetryDelayMs() const override { return 1; }

 private:
  bool open_ = true;
  bool accept_ = true;
};

TEST(BackgroundSinkTest, DeliversInOrderOffTheCallersThread) {
  GatedSink sink(100);
  sink.Start();
  for (std::uint64_t i = 1; i <= 50; ++i) sink.Publish(Numbered(i));
  sink.WaitFor(50);
  std::vector<std::uint64_t> expected;
  for (std::uint64_t i = 1; i <= 50; ++i) expected.push_back(i);
  EXPECT_EQ(sink.delivered, expected);
  EXPECT_TRUE(sink.overflowed.empty());
}

TEST(BackgroundSinkTest, AFullQueueNeverBlocksThePublisherAndOverflowsInstead) {
  GatedSink sink(3);
  sink.Open(false);
  sink.Start();
  sink.Publish(Numbered(1));
  sink.WaitForAttempts(1);  // 1 is held in Deliver
  for (std::uint64_t i = 2; i <= 6; ++i) sink.Publish(Numbered(i));
  EXPECT_EQ(sink.overflowed, (std::vector<std::uint64_t>{5, 6}));
  EXPECT_EQ(sink.Overflowed(), 2u);
  sink.Open(true);
  sink.WaitFor(4);
  EXPECT_EQ(sink.delivered, (std::vector<std::uint64_t>{1, 2, 3, 4}));
}

TEST(BackgroundSinkTest, AFailedDeliveryIsRetriedAndNothingOvertakesIt) {
  GatedSink sink(10);
  sink.Open(true, false);
  sink.Start();
  sink.Publish(Numbered(1));
  sink.Publish(Numbered(2));
  sink.WaitForAttempts(3);
  EXPECT_TRUE(sink.delivered.empty());
  sink.Open(true, true);
  sink.WaitFor(2);
  EXPECT_EQ(sink.delivered, (std::vector<std::uint64_t>{1, 2}));
}

TEST(BackgroundSinkTest, StopHandsWhatIsLeftToOverflow) {
  GatedSink sink(10);
  sink.Open(true, false);
  sink.Start();
  for (std::uint64_t i = 1; i <= 3; ++i) sink.Publish(Numbered(i));
  sink.WaitForAttempts(1);
  sink.Stop(0);
  EXPECT_TRUE(sink.delivered.empty());
  EXPECT_EQ(sink.overflowed, (std::vector<std::uint64_t>{1, 2, 3}));
  // After Stop, publishing overflows at once.
  sink.Publish(Numbered(4));
  EXPECT_EQ(sink.overflowed.back(), 4u);
}

TEST(EventFanOutTest, EveryOutputGetsEveryEventInOrder) {
  struct Recording : EventSink {
    void Publish(const Event& e) override { seen.push_back(e.seq); }
    std::vector<std::uint64_t> seen;
  } a, b;
  EventFanOut fan;
  EXPECT_TRUE(fan.Empty());
  fan.Add(&a);
  fan.Add(&b);
  fan.Publish(Numbered(7));
  fan.Publish(Numbered(8));
  EXPECT_EQ(a.seen, (std::vector<std::uint64_t>{7, 8}));
  EXPECT_EQ(b.seen, a.seen);
}

}  // namespace
}  // namespace pelvaron
