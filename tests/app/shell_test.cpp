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
  // The station's name goes into every event: one line, nothing that steers a terminal.
  EXPECT_EQ(ParseOptions({"--station", "пост\n1"})
                .error.rfind("--station: Имя станции содержит управляющий символ <LF>", 0),
            0u);
  EXPECT_NE(ParseOptions({"--station=\x1b[2J"}).error.find("<ESC>"), std::string::npos);
}

TEST(Options, TheProgramNameIsTheExecutablesBaseName) {
  EXPECT_EQ(ProgramNameFrom("/usr/local/bin/pelvaron"), "pelvaron");
  EXPECT_EQ(ProgramNameFrom("./build/src/pelvaron"), "pelvaron");
  EXPECT_EQ(ProgramNameFrom("console"), "console");
  EXPECT_EQ(ProgramNameFrom(""), "pelvaron");
  EXPECT_NE(UsageText("pelvaron").find("--device COMn=PATH"), std::string::npos);
  EXPECT_NE(UsageText("pelvaron").find("--version"), std::string::npos);
  EXPECT_TRUE(ParseOptions({"--version"}).version);
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
  clock.monotonic += 10000;
  op.ShowMessage(full);
  EXPECT_EQ(messages.str(),
            "pelvaron: Error in opening protocol file\n"
            "pelvaron: Error in opening protocol file (повторилось 100 раз)\n");
}

TEST_F(StreamOperatorTest, ARepetitionThatStopsGetsOneLineSayingSoWithItsCount) {
  const OperatorMessage port{"Не удаётся обнаружить COM1 !", "Ошибка", MessageIcon::Error};
  for (int i = 0; i < 3; ++i) {
    op.ShowMessage(port);
    clock.monotonic += 500;
    op.Redisplay({});
  }
  clock.monotonic += StreamOperator::kRepeatQuietMs - 1000;
  op.Redisplay({});
  EXPECT_EQ(messages.str(), "Ошибка: Не удаётся обнаружить COM1 !\n");
  clock.monotonic += 1000;  // a minute since it last came: the tick notices
  op.Redisplay({});
  op.Redisplay({});
  EXPECT_EQ(messages.str(),
            "Ошибка: Не удаётся обнаружить COM1 !\n"
            "Ошибка: Не удаётся обнаружить COM1 ! (повторилось 2 раза, больше не повторяется)\n");
  // Once stopped, it is new again when it comes back.
  op.ShowMessage(port);
  EXPECT_EQ(messages.str().substr(messages.str().rfind('\n', messages.str().size() - 2) + 1),
            "Ошибка: Не удаётся обнаружить COM1 !\n");
}

TEST_F(StreamOperatorTest, MessagesThatTakeTurnsAreEachCountedAndTheCountsFlushedAtExit) {
  const OperatorMessage a{"A", "T", MessageIcon::None}, b{"B", "T", MessageIcon::None};
  for (int i = 0; i < 12; ++i) {
    op.ShowMessage(a);
    op.ShowMessage(b);
    if (i < 4) op.ShowMessage(b);
  }
  EXPECT_EQ(messages.str(), "T: A\nT: B\n");
  op.Flush();
  EXPECT_EQ(messages.str(), "T: A\nT: B\nT: A (повторилось 11 раз)\nT: B (повторилось 15 раз)\n");
  op.Flush();
  EXPECT_EQ(messages.str(), "T: A\nT: B\nT: A (повторилось 11 раз)\nT: B (повторилось 15 раз)\n");
}

TEST(StreamOperatorCount, TheWordTakesTheFormItsNumberWants) {
  const std::pair<int, const char*> forms[] = {
      {1, "повторилось 1 раз"},     {2, "повторилось 2 раза"},    {4, "повторилось 4 раза"},
      {5, "повторилось 5 раз"},     {11, "повторилось 11 раз"},   {12, "повторилось 12 раз"},
      {14, "повторилось 14 раз"},   {21, "повторилось 21 раз"},   {22, "повторилось 22 раза"},
      {112, "повторилось 112 раз"}, {123, "повторилось 123 раза"}};
  for (const auto& [n, text] : forms) EXPECT_EQ(StreamOperator::RepeatCount(n), text);
}

TEST_F(StreamOperatorTest, ForTheJournalEachMessageLineCarriesItsPriority) {
  op.SetJournalPriorities(true);
  op.ShowMessage({"Связь с портом COM1 прервана", "Ошибка", MessageIcon::Error});
  op.ShowMessage({"Error in opening protocol file", "", MessageIcon::None});
  op.ShowMessage({"Порт COM1 снова открыт.", "", MessageIcon::Information});
  op.LogLineAdded("07:12:2026, 11:12:05   Восстановление связи с Велдор");
  EXPECT_EQ(messages.str(),
            "<3>Ошибка: Связь с портом COM1 прервана\n"
            "<4>pelvaron: Error in opening protocol file\n"
            "<6>pelvaron: Порт COM1 снова открыт.\n");
  EXPECT_EQ(log.str(), "07:12:2026, 11:12:05   Восстановление связи с Велдор\n");
}

}  // namespace
}  // namespace pelvaron
