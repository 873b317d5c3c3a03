#include <gtest/gtest.h>

#include <sstream>

#include "app/options.h"
#include "app/stream_operator.h"
#include "support/fakes.h"

namespace pelvaron {
namespace {

TEST(Options, EveryOptionIsUnderstood) {
  Options o = ParseOptions({"--headless", "--demo", "--alarm-sound", "--alarm-beep", "--device",
                            "COM3=/dev/ttyUSB0", "--device=COM10=/tmp/pty", "--tick-ms", "50"});
  EXPECT_EQ(o.error, "");
  EXPECT_TRUE(o.headless && o.demo && o.alarmSound && o.alarmBeep);
  EXPECT_EQ(o.tickMs, 50);
  EXPECT_EQ(o.devices.DevicePath("COM3"), "/dev/ttyUSB0");
  EXPECT_EQ(o.devices.DevicePath("COM10"), "/tmp/pty");
  EXPECT_EQ(o.devices.DevicePath("COM1"), "/dev/ttyS0");
  EXPECT_FALSE(ParseOptions({}).headless);
  EXPECT_EQ(ParseOptions({}).tickMs, 500);
}

TEST(Options, BadCommandLinesSayWhatIsWrong) {
  EXPECT_NE(ParseOptions({"--frobnicate"}).error.find("--frobnicate"), std::string::npos);
  EXPECT_NE(ParseOptions({"--device"}).error, "");
  EXPECT_NE(ParseOptions({"--device", "/dev/ttyS0"}).error, "");
  for (const char* bad : {"0", "5", "abc", "10001", "99999999999"}) {
    EXPECT_NE(ParseOptions({"--tick-ms", bad}).error, "") << bad;
  }
  EXPECT_NE(ParseOptions({"--tick-ms"}).error, "");
}

TEST(Options, TheProgramNameIsTheExecutablesBaseName) {
  EXPECT_EQ(ProgramNameFrom("/usr/local/bin/pelvaron"), "pelvaron");
  EXPECT_EQ(ProgramNameFrom("./build/src/pelvaron"), "pelvaron");
  EXPECT_EQ(ProgramNameFrom("console"), "console");
  EXPECT_EQ(ProgramNameFrom(""), "pelvaron");
  EXPECT_NE(UsageText("pelvaron").find("--device COMn=PATH"), std::string::npos);
}

class StreamOperatorTest : public ::testing::Test {
 protected:
  std::ostringstream log, messages;
  testing::FakeClock clock;
  StreamOperator op{log, messages, clock, "pelvaron"};
};

TEST_F(StreamOperatorTest, LinesGoToTheLogAndMessagesOneLineEach) {
  op.LogLineAdded("06:12:2026, 08:47:42   Включение программы");
  op.ShowMessage({"Не удаётся обнаружить COM3 !\n Возможно, ресурс используется другой программой.", "Ошибка",
                  MessageIcon::Error});
  op.ShowMessage({"Error in opening protocol file", "", MessageIcon::None});
  EXPECT_EQ(log.str(), "06:12:2026, 08:47:42   Включение программы\n");
  EXPECT_EQ(messages.str(),
            "Ошибка: Не удаётся обнаружить COM3 ! Возможно, ресурс используется другой программой.\n"
            "pelvaron: Error in opening protocol file\n");
}

TEST_F(StreamOperatorTest, ARepeatingMessageIsPrintedOnceAMinuteWithItsCount) {
  const OperatorMessage full{"Error in opening protocol file", "", MessageIcon::None};
  for (int i = 0; i < 100; ++i) {
    op.ShowMessage(full);
    clock.monotonic += 500;
  }
  // 100 messages over 50 s: one line.
  EXPECT_EQ(messages.str(), "pelvaron: Error in opening protocol file\n");
  clock.monotonic += 20000;
  op.ShowMessage(full);
  EXPECT_EQ(messages.str(),
            "pelvaron: Error in opening protocol file\n"
            "pelvaron: Error in opening protocol file (and 99 times more in the last minute)\n");
}

TEST_F(StreamOperatorTest, ADifferentMessageIsShownAtOnceAndTheHeldBackCountIsNotLost) {
  const OperatorMessage a{"A", "T", MessageIcon::None};
  op.ShowMessage(a);
  op.ShowMessage(a);
  op.ShowMessage(a);
  op.ShowMessage({"B", "T", MessageIcon::None});
  EXPECT_EQ(messages.str(), "T: A\nT: A (2 times more)\nT: B\n");
}

}  // namespace
}  // namespace pelvaron
