#include "protocol/event_protocol.h"

#include <gtest/gtest.h>

#include "support/fakes.h"

namespace pelvaron {
namespace {

using testing::Cp;
using testing::FakeClock;
using testing::MemoryFileSystem;
using testing::RecordingOperator;

class EventProtocolTest : public ::testing::Test {
 protected:
  EventProtocolTest() { clock.SetLocal(2026, 12, 6, 8, 47, 42); }

  std::string File() const { return fs.Text("protocol.txt"); }

  ConsoleSettings settings = ConsoleSettings::Defaults();
  FakeClock clock;
  MemoryFileSystem fs;
  RecordingOperator op;
  EventProtocol protocol{settings, clock, fs, op};
};

TEST_F(EventProtocolTest, TheStampIsDayMonthYearAndTimeWithATrailingSpace) {
  std::tm tm{};
  ASSERT_TRUE(clock.ToLocalTime(clock.Now(), tm));
  EXPECT_EQ(FormatStamp(tm), "06:12:2026, 08:47:42 ");
}

TEST_F(EventProtocolTest, AStampedLineIntoAnEmptyLogShowsBareButIsFiledStamped) {
  EXPECT_EQ(protocol.AppendStampedLine(">>"), 0);
  EXPECT_EQ(protocol.AppendStampedLine("Включение программы"), 0);
  EXPECT_EQ(op.log, (std::vector<std::string>{">>", "06:12:2026, 08:47:42   Включение программы"}));
  EXPECT_EQ(File(), Cp("06:12:2026, 08:47:42   >>\r\n06:12:2026, 08:47:42   Включение программы\r\n"));
}

TEST_F(EventProtocolTest, APlainLineGoesUnchangedToTheLogAndTheFile) {
  protocol.AppendPlainLine(" ");
  protocol.AppendPlainLine("     Адрес объекта:      [1234]");
  EXPECT_EQ(protocol.EventLog(), (std::deque<std::string>{" ", "     Адрес объекта:      [1234]"}));
  EXPECT_EQ(File(), Cp(" \r\n     Адрес объекта:      [1234]\r\n"));
}

TEST_F(EventProtocolTest, TheLogKeepsTheNewest400Lines) {
  for (int i = 0; i < 401; ++i) protocol.AppendPlainLine(std::to_string(i));
  ASSERT_EQ(protocol.EventLog().size(), 400u);
  EXPECT_EQ(protocol.EventLog().front(), "1");
  EXPECT_EQ(protocol.EventLog().back(), "400");
  EXPECT_EQ(op.log.size(), 400u);
  EXPECT_EQ(op.log.front(), "1");
}

TEST_F(EventProtocolTest, ClearingEmptiesTheLogButNotTheFile) {
  protocol.AppendStampedLine(">>");
  protocol.AppendPlainLine("a line");
  protocol.ClearEventLog();
  EXPECT_EQ(op.log, (std::vector<std::string>{">> "}));
  EXPECT_EQ(File(), Cp("06:12:2026, 08:47:42   >>\r\na line\r\n06:12:2026, 08:47:42   >> \r\n"));
}

TEST_F(EventProtocolTest, WithSavingOffNoFileIsTouchedWhateverThePath) {
  settings.bSaveProtocol = 0;
  ASSERT_TRUE(settings.SetProtocolPath("/no/such/dir/p.txt"));
  fs.failAppend = 2;
  EXPECT_EQ(protocol.AppendStampedLine("x"), 0);
  EXPECT_EQ(protocol.AppendPlainLine("y"), 0);
  EXPECT_EQ(fs.appendCount, 0);
  EXPECT_TRUE(op.messages.empty());
  EXPECT_EQ(op.log.size(), 2u);
}

TEST_F(EventProtocolTest, AnExistingFileIsAppendedTo) {
  fs.files["protocol.txt"] = {'o', 'l', 'd', '\r', '\n'};
  protocol.AppendPlainLine("new");
  EXPECT_EQ(File(), "old\r\nnew\r\n");
}

TEST_F(EventProtocolTest, AFileThatCannotBeOpenedIsReportedForEveryLine) {
  fs.failAppend = 2;
  EXPECT_EQ(protocol.AppendStampedLine("a"), kProtocolFileError);
  EXPECT_EQ(protocol.AppendPlainLine("b"), kProtocolFileError);
  ASSERT_EQ(op.messages.size(), 2u);
  EXPECT_EQ(op.messages[0], (OperatorMessage{"Error in opening protocol file", "", MessageIcon::None}));
  EXPECT_EQ(op.log, (std::vector<std::string>{"a", "b"}));  // the screen still gets them
}

TEST_F(EventProtocolTest, TheSettingsAreReadAnewAtEveryLine) {
  protocol.AppendPlainLine("one");
  ASSERT_TRUE(settings.SetProtocolPath("other.txt"));
  protocol.AppendPlainLine("two");
  EXPECT_EQ(File(), "one\r\n");
  EXPECT_EQ(fs.Text("other.txt"), "two\r\n");
}

TEST_F(EventProtocolTest, LongTextsAreCutToTheirLimitsInCharacters) {
  protocol.AppendStampedLine("first");
  std::string stamped;
  for (int i = 0; i < 80; ++i) stamped += "Ж";
  protocol.AppendStampedLine(stamped);
  std::string plain(200, 'x');
  protocol.AppendPlainLine(plain);
  std::string cut77;
  for (int i = 0; i < 77; ++i) cut77 += "Ж";
  EXPECT_EQ(protocol.EventLog()[1], "06:12:2026, 08:47:42   " + cut77);
  EXPECT_EQ(protocol.EventLog()[2], std::string(149, 'x'));
  EXPECT_NE(File().find(std::string(77, '\xC6') + "\r\n"), std::string::npos);
  EXPECT_EQ(File().find(std::string(78, '\xC6')), std::string::npos);
}

TEST_F(EventProtocolTest, AnUnconvertibleTimeGivesAnEmptyStamp) {
  protocol.AppendPlainLine("first");
  clock.convertible = false;
  protocol.AppendStampedLine("text");
  EXPECT_EQ(protocol.EventLog().back(), "  text");
}

TEST_F(EventProtocolTest, ABlockReachesTheFileInOneAppendAndTheLogLineByLine) {
  protocol.AppendPlainLine("before");
  const int appendsBefore = fs.appendCount;
  protocol.BeginBlock();
  EXPECT_EQ(protocol.AppendPlainLine(" "), 0);
  EXPECT_EQ(protocol.AppendStampedLine("Сообщение : "), 0);
  // The log does not wait for the block's end.
  EXPECT_EQ(op.log.back(), "06:12:2026, 08:47:42   Сообщение : ");
  EXPECT_EQ(File(), Cp("before\r\n"));
  EXPECT_EQ(protocol.EndBlock(), 0);
  EXPECT_EQ(fs.appendCount, appendsBefore + 1);
  EXPECT_EQ(File(), Cp("before\r\n \r\n06:12:2026, 08:47:42   Сообщение : \r\n"));
  // Lines after the block are appended one by one again.
  protocol.AppendPlainLine("after");
  EXPECT_EQ(fs.appendCount, appendsBefore + 2);
}

TEST_F(EventProtocolTest, AFailedBlockIsToldOnceAndLosesItsLinesWhole) {
  fs.failAppend = 28;
  protocol.BeginBlock();
  for (int i = 0; i < 9; ++i) protocol.AppendPlainLine("line");
  EXPECT_EQ(protocol.EndBlock(), kProtocolFileError);
  EXPECT_EQ(op.messages, (std::vector<OperatorMessage>{{"Error in opening protocol file", "", MessageIcon::None}}));
  EXPECT_EQ(File(), "");
  EXPECT_EQ(op.log.size(), 9u);
  // Nothing of the failed block comes back with the next line.
  fs.failAppend = 0;
  protocol.AppendPlainLine("next");
  EXPECT_EQ(File(), Cp("next\r\n"));
}

TEST_F(EventProtocolTest, ABlockWithTheFileSwitchedOffAppendsNothing) {
  settings.bSaveProtocol = 0;
  protocol.BeginBlock();
  protocol.AppendPlainLine("line");
  EXPECT_EQ(protocol.EndBlock(), 0);
  EXPECT_EQ(fs.appendCount, 0);
  EXPECT_EQ(op.log, (std::vector<std::string>{"line"}));
}

TEST_F(EventProtocolTest, ANewProtocolPathIsUsedFromTheNextLine) {
  protocol.AppendPlainLine("one");
  ASSERT_TRUE(settings.SetProtocolPath("другой.txt"));
  protocol.AppendPlainLine("two");
  // A longer path, then a shorter one over it: bytes behind the zero do not count.
  ASSERT_TRUE(settings.SetProtocolPath("protocol.txt"));
  protocol.AppendPlainLine("three");
  EXPECT_EQ(fs.Text("protocol.txt"), Cp("one\r\nthree\r\n"));
  EXPECT_EQ(fs.Text("другой.txt"), Cp("two\r\n"));
}

}  // namespace
}  // namespace pelvaron
