// The automatic reopen on the fake port: a device missing at start, one that
// fails while open and comes back, a receiver that falls silent; each cause
// told once however many tries it takes, at a steady pace.
#include "link/port_watch.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "link/fake_serial_port.h"
#include "support/fakes.h"

namespace pelvaron {
namespace {

using testing::FakeClock;
using testing::FakeSerialPort;
using testing::RecordingOperator;

const std::string kNotFound =
    "Не удаётся обнаружить COM1 !\n Возможно, ресурс используется другой программой.";
const std::string kFailed =
    "Связь с портом COM1 прервана: устройство отключено или неисправно. Порт будет открыт снова, как только "
    "это станет возможно.";
const std::string kBack = "Порт COM1 снова открыт.";

class PortWatchTest : public ::testing::Test {
 protected:
  // One tick's part of it: the watch, the status request, its result.
  int Tick(bool answers = true) {
    watch.BeforeStatus();
    port.answers.clear();
    port.rx.clear();
    if (answers) port.answers.push_back({0x08});
    std::uint8_t status = 0;
    const int result = link.RequestStatus(status);
    watch.AfterStatus(result);
    return result;
  }
  // Ticks until the port has been tried again; how many ticks that took.
  int TicksUntilTried(bool answers = true, int limit = 100) {
    const unsigned before = link.OpenCount();
    for (int i = 1; i <= limit; ++i) {
      Tick(answers);
      if (link.OpenCount() != before) return i;
    }
    return -1;
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& m : op.messages) texts.push_back(m.text);
    return texts;
  }
  int Opens() const {
    return static_cast<int>(std::count_if(port.calls.begin(), port.calls.end(),
                                          [](const std::string& c) { return c.rfind("Open ", 0) == 0; }));
  }

  FakeClock clock;
  RecordingOperator op;
  ConsoleSettings settings = ConsoleSettings::Defaults();
  DeviceMap devices;
  FakeSerialPort port;
  ReceiverLink link{port, clock, op, settings, devices};
  PortWatch watch{link};
};

TEST_F(PortWatchTest, AnOpenPortThatAnswersIsLeftAlone) {
  ASSERT_EQ(link.OpenComPort(), 0);
  for (int i = 0; i < 500; ++i) ASSERT_EQ(Tick(), 0);
  EXPECT_EQ(Opens(), 1);
  EXPECT_TRUE(op.messages.empty());
}

TEST_F(PortWatchTest, ADeviceMissingAtStartIsTriedEveryTenTicksAndToldOnceThenBack) {
  port.openError = 2;
  EXPECT_EQ(link.OpenComPort(), 1);  // start-up: the operator's message, as ever
  EXPECT_EQ(TicksUntilTried(), PortWatch::kReopenTicks);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(TicksUntilTried(), PortWatch::kReopenTicks);
  EXPECT_EQ(Opens(), 7);
  EXPECT_EQ(Texts(), std::vector<std::string>{kNotFound});

  port.openError = 0;  // plugged in
  EXPECT_EQ(TicksUntilTried(), PortWatch::kReopenTicks);
  EXPECT_TRUE(link.IsOpen());
  EXPECT_EQ(Tick(), 0);
  EXPECT_EQ(Texts(), (std::vector<std::string>{kNotFound, kBack}));
  EXPECT_EQ(op.messages.back().icon, MessageIcon::Information);
  // Open and answering: no more tries.
  for (int i = 0; i < 100; ++i) Tick();
  EXPECT_EQ(Opens(), 8);
}

TEST_F(PortWatchTest, ADeviceThatFailsWhileOpenIsLetGoAndToldOnceUntilItIsBack) {
  ASSERT_EQ(link.OpenComPort(), 0);
  for (int i = 0; i < 30; ++i) Tick();
  port.failed = true;  // unplugged
  port.openError = 2;  // and its device node gone
  // The next tick lets it go and tries at once; then every ten ticks.
  EXPECT_EQ(TicksUntilTried(), 1);
  EXPECT_FALSE(link.IsOpen());
  for (int i = 0; i < 4; ++i) EXPECT_EQ(TicksUntilTried(), PortWatch::kReopenTicks);
  EXPECT_EQ(Texts(), std::vector<std::string>{kFailed});
  EXPECT_EQ(op.messages[0].title, "Ошибка");

  port.openError = 0;
  EXPECT_EQ(TicksUntilTried(), PortWatch::kReopenTicks);
  EXPECT_EQ(Tick(), 0);
  EXPECT_EQ(Texts(), (std::vector<std::string>{kFailed, kBack}));

  // A second outage (a hiccup: the device is back at the first try) is told again.
  port.failed = true;
  EXPECT_GT(TicksUntilTried(), 0);
  EXPECT_EQ(Tick(), 0);
  EXPECT_EQ(Texts(), (std::vector<std::string>{kFailed, kBack, kFailed, kBack}));
}

TEST_F(PortWatchTest, AnotherCauseInTheSameOutageIsToldOnceToo) {
  port.openError = 2;
  link.OpenComPort();
  EXPECT_EQ(TicksUntilTried(), PortWatch::kReopenTicks);
  port.openError = 0;
  port.failSetLine = true;  // found, but it refuses the line settings: the port stays open, unusable
  EXPECT_EQ(TicksUntilTried(), PortWatch::kReopenTicks);
  const std::vector<std::string> told = {kNotFound, "fSuccess = SetCommState(hCom, &dcb);"};
  EXPECT_EQ(Texts(), told);
  // It never answers, so after the link's count of a lost link it is tried again, quietly.
  EXPECT_EQ(TicksUntilTried(false, 200), PortWatch::kLinkLostTicks + 1);
  EXPECT_EQ(TicksUntilTried(false), PortWatch::kReopenTicks);
  EXPECT_EQ(Texts(), told);
}

TEST_F(PortWatchTest, ASilentReceiverHasItsPortReopenedQuietlyUntilItAnswers) {
  ASSERT_EQ(link.OpenComPort(), 0);
  Tick();
  for (int i = 1; i < PortWatch::kLinkLostTicks; ++i) ASSERT_EQ(Tick(false), 1);
  EXPECT_EQ(Opens(), 1);
  EXPECT_EQ(TicksUntilTried(false), 2) << "the 121st unanswered request, then the next tick";
  EXPECT_EQ(TicksUntilTried(false), PortWatch::kReopenTicks);
  EXPECT_TRUE(op.messages.empty());
  // One answer, and the port is left alone again.
  EXPECT_EQ(Tick(true), 0);
  for (int i = 0; i < 100; ++i) Tick(true);
  EXPECT_EQ(Opens(), 3);
}

TEST_F(PortWatchTest, TheOperatorsReopenCountsAsATryAndStillSpeaks) {
  port.openError = 2;
  link.OpenComPort();
  for (int i = 0; i < 5; ++i) Tick();
  // Settings saved: the operator's reopen shows its message again.
  link.CloseComPort();
  link.OpenComPort();
  EXPECT_EQ(Texts(), (std::vector<std::string>{kNotFound, kNotFound}));
  EXPECT_EQ(TicksUntilTried(), PortWatch::kReopenTicks) << "ten ticks after the operator's try";
  EXPECT_EQ(op.messages.size(), 2u);
}

}  // namespace
}  // namespace pelvaron
