#include "app/headless_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <stdexcept>
#include <string>
#include <vector>

#include "link/fake_serial_port.h"
#include "support/fakes.h"

namespace pelvaron {
namespace {

using testing::FakeClock;

// The loop's pacing on the fake clock: each wait lets `passes` of the time
// asked go by (an interrupted wait lets less), and SIGTERM comes when the
// clock reaches stopAt.
class TickLoopTest : public ::testing::Test {
 protected:
  int Run() {
    return RunTickLoop(
        clock,
        [this](std::int64_t ms) {
          EXPECT_GE(ms, 0);
          const std::int64_t step = std::min(ms, passes);
          if (clock.monotonic + step >= stopAt) {
            clock.monotonic = stopAt;
            return SIGTERM;
          }
          clock.monotonic += step;
          return 0;
        },
        500, [this] { Tick(); });
  }
  virtual void Tick() { ticks.push_back(clock.monotonic); }

  FakeClock clock;
  std::int64_t passes = 1 << 30;
  std::int64_t stopAt = 0;
  std::vector<std::int64_t> ticks;
};

TEST_F(TickLoopTest, TicksComeOnePeriodApartFromTheStartUntilAShutdownRequest) {
  clock.monotonic = 10000;
  stopAt = 12200;
  EXPECT_EQ(Run(), SIGTERM);
  EXPECT_EQ(ticks, (std::vector<std::int64_t>{10500, 11000, 11500, 12000}));

  // A request that comes exactly when a tick is due wins over the tick.
  ticks.clear();
  clock.monotonic = 0;
  stopAt = 1000;
  EXPECT_EQ(Run(), SIGTERM);
  EXPECT_EQ(ticks, (std::vector<std::int64_t>{500}));
}

TEST_F(TickLoopTest, AnInterruptedWaitIsResumedForTheTimeLeft) {
  passes = 120;
  stopAt = 1700;
  EXPECT_EQ(Run(), SIGTERM);
  EXPECT_EQ(ticks, (std::vector<std::int64_t>{500, 1000, 1500}));
}

class SlowTickTest : public TickLoopTest {
 protected:
  void Tick() override {
    TickLoopTest::Tick();
    if (ticks.size() == 1) clock.monotonic += 1700;  // an exchange that took long
  }
};

TEST_F(SlowTickTest, ALateTickIsTakenLateAndMissedOnesAreNotMadeUp) {
  stopAt = 3300;
  EXPECT_EQ(Run(), SIGTERM);
  EXPECT_EQ(ticks, (std::vector<std::int64_t>{500, 2200, 2700, 3200}));
}

// Every tick takes longer than the period (a receiver that says a message
// waits and never sends it): the request that comes meanwhile still ends the
// loop after the tick it came in.
class OverrunTickTest : public TickLoopTest {
 protected:
  void Tick() override {
    TickLoopTest::Tick();
    clock.monotonic += 1700;
    if (ticks.size() > 50) throw std::runtime_error("the request was never looked at");
  }
};

TEST_F(OverrunTickTest, ARequestIsTakenBetweenTicksThatRunLate) {
  stopAt = 4000;
  int request = 0;
  EXPECT_NO_THROW(request = Run());
  EXPECT_EQ(request, SIGTERM);
  EXPECT_EQ(ticks, (std::vector<std::int64_t>{500, 2200, 3900}));
}

TEST(HeadlessLoop, TheConsoleTicksUntilTheRequestAndThenShutsDownInOrder) {
  FakeClock clock;
  testing::MemoryFileSystem fs;
  testing::RecordingOperator op;
  testing::FakeSerialPort port;
  Console console(clock, fs, op, port, DeviceMap{});
  clock.SetLocal(2026, 12, 6, 10, 15, 30);
  console.Startup();
  const std::int64_t start = clock.monotonic;
  int waits = 0;
  int afterTicks = 0;
  const int request = RunHeadless(
      console, clock,
      [&](std::int64_t ms) {
        // SIGINT in the third wait, before its tick.
        if (++waits == 3) return SIGINT;
        clock.monotonic += ms;
        return 0;
      },
      500, [&] { ++afterTicks; });
  EXPECT_EQ(request, SIGINT);
  EXPECT_EQ(afterTicks, 2);
  const std::vector<std::string> commands = port.Commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "gs"), 2);
  EXPECT_GE(clock.monotonic, start + 1000);
  EXPECT_TRUE(console.IsShutDown());
  EXPECT_FALSE(port.IsOpen());
  const std::string file = fs.Text("protocol.txt");
  const std::string last = testing::Cp("Выключение программы\r\n");
  ASSERT_GE(file.size(), last.size());
  EXPECT_EQ(file.substr(file.size() - last.size()), last);
}

}  // namespace
}  // namespace pelvaron
