#include "app/apply_message.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/fixed_text.h"
#include "support/fakes.h"

namespace pelvaron {
namespace {

using testing::Cp;
using testing::FakeClock;
using testing::Hex;
using testing::MemoryFileSystem;
using testing::RecordingOperator;
using Lines = std::vector<std::string>;

// A console's worth of what a frame is written into.
class ApplyMessageTest : public ::testing::Test {
 protected:
  ApplyMessageTest() { clock.SetLocal(2026, 12, 6, 8, 47, 42); }

  int Decode(const std::string& hex) {
    std::vector<std::uint8_t> frame = Hex(hex);
    return DecodeFrame(frame.data(), scratch, protocol, op, objects);
  }
  Lines Log() const { return {protocol.EventLog().begin(), protocol.EventLog().end()}; }

  // An object overdue since long ago, with a flag bit beside OVERDUE_LOGGED.
  void Register(int slot, const char* address) {
    ObjectRecord& r = objects.Table()[slot];
    WriteFixedText(r.szAddress, address);
    r.bUsed = 1;
    r.bControl = 1;
    r.nPeriod = 60;
    r.bRegistered = 1;
    r.bAlarm = 1;
    r.nState = OBJSTATE_NO_CONTROL;
    r.byFlags = OVERDUE_LOGGED | 0x80;
    r.nTimeCounter = 75;
  }
  bool Overdue(int slot) const {
    const ObjectRecord& r = objects.Table()[slot];
    return r.nTimeCounter == 75 && r.bAlarm == 1 && r.nState == OBJSTATE_NO_CONTROL &&
           r.byFlags == (OVERDUE_LOGGED | 0x80);
  }
  bool Reset(int slot) const {
    const ObjectRecord& r = objects.Table()[slot];
    return r.nTimeCounter == 0 && r.bAlarm == 0 && r.nState == OBJSTATE_NORMAL && r.byFlags == 0x80;
  }

  FakeClock clock;
  MemoryFileSystem fs;
  RecordingOperator op;
  ConsoleSettings settings = ConsoleSettings::Defaults();
  EventProtocol protocol{settings, clock, fs, op};
  ObjectRegistry objects{fs, op};
  DecodedMessage scratch;
};

// A guard's control message (kind 2) from address 0012: 00 12 0A 20 00 10 00 00.
constexpr char kControlFrom0012[] = "00 12 0A 20 00 10 00 00 00 4C";

TEST_F(ApplyMessageTest, AWrongSumWritesNothingAndShowsTheMessage) {
  EXPECT_EQ(Decode("12 34 1F 01 13 00 01 00 00 7B"), 1);
  EXPECT_TRUE(Log().empty());
  EXPECT_TRUE(op.log.empty());
  EXPECT_EQ(fs.appendCount, 0);
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0], (OperatorMessage{"Ошибка контрольной суммы!", "Ошибка", MessageIcon::Error}));
}

TEST_F(ApplyMessageTest, ANullFrameIsRefusedSilently) {
  EXPECT_EQ(DecodeFrame(nullptr, protocol, op, objects), 1);
  EXPECT_TRUE(Log().empty());
  EXPECT_TRUE(op.messages.empty());
}

TEST_F(ApplyMessageTest, TheFirstLineOfAnEmptyLogIsBareAndTheHeaderIsStamped) {
  EXPECT_EQ(Decode("12 34 1F 01 13 00 01 00 00 7A"), 0);
  Lines log = Log();
  ASSERT_EQ(log.size(), 9u);
  EXPECT_EQ(log[0], " ");
  EXPECT_EQ(log[1], "06:12:2026, 08:47:42   Сообщение : ");
  EXPECT_EQ(log[6], "[Восстановление охранной тревоги]");
  EXPECT_TRUE(op.messages.empty());
}

TEST_F(ApplyMessageTest, ProtocolFileGetsWindows1251LinesWithCrLf) {
  ASSERT_EQ(Decode("12 34 1F 01 13 00 01 00 00 7A"), 0);
  std::string expected;
  for (const std::string& line : Log()) expected += Cp(line) + "\r\n";
  const std::string file = fs.Text("protocol.txt");
  EXPECT_EQ(file, expected);
  // Spot checks on the bytes themselves: "С" of the header is 0xD1, the
  // quoted name keeps its ASCII quotes.
  EXPECT_EQ(file.substr(0, 3), " \r\n");
  EXPECT_EQ(file.substr(3, 23), "06:12:2026, 08:47:42   ");
  EXPECT_EQ(static_cast<unsigned char>(file[26]), 0xD1u);
  EXPECT_NE(file.find("[\"Contact-ID\"]\r\n"), std::string::npos);
}

TEST_F(ApplyMessageTest, ARepeatedFrameIsWrittenAgainWithItsOwnTime) {
  ASSERT_EQ(Decode("12 34 1F 01 13 00 01 00 00 7A"), 0);
  Lines once = Log();
  clock.AdvanceSeconds(1);
  ASSERT_EQ(Decode("12 34 1F 01 13 00 01 00 00 7A"), 0);
  Lines twice = Log();
  ASSERT_EQ(twice.size(), 2 * once.size());
  EXPECT_EQ(twice[once.size() + 1], "06:12:2026, 08:47:43   Сообщение : ");
  EXPECT_EQ(Lines(twice.begin() + once.size() + 2, twice.end()), Lines(once.begin() + 2, once.end()));
}

TEST_F(ApplyMessageTest, ControlMessageResetsEverySlotOfItsAddress) {
  Register(1, "0012");
  Register(2, "0034");
  Register(3, "0012");
  Register(4, "012");
  Register(5, "00120");
  ASSERT_EQ(Decode(kControlFrom0012), 0);
  EXPECT_TRUE(Reset(1));
  EXPECT_TRUE(Overdue(2));
  EXPECT_TRUE(Reset(3));
  EXPECT_TRUE(Overdue(4));
  EXPECT_TRUE(Overdue(5));
  // The lines come first, then the reset shows in the refreshed list.
  ASSERT_EQ(op.refreshes.size(), 1u);
  EXPECT_FALSE(op.refreshes[0][0].bAlarm);
  EXPECT_EQ(op.refreshes[0][0].lastLink, "0m");
  EXPECT_EQ(Log().size(), 10u);
}

TEST_F(ApplyMessageTest, ControlMessageStopsAtTheFirstFreeSlot) {
  Register(1, "0012");
  Register(3, "0012");  // behind a hole: not part of the table's run
  ASSERT_EQ(Decode(kControlFrom0012), 0);
  EXPECT_TRUE(Reset(1));
  EXPECT_TRUE(Overdue(3));
}

TEST_F(ApplyMessageTest, AnAddressFillingTheWholeFieldIsReadToItsEnd) {
  Register(1, "00120000");  // eight characters, no terminating zero
  Register(2, "0012");
  ASSERT_EQ(Decode(kControlFrom0012), 0);
  EXPECT_TRUE(Overdue(1));
  EXPECT_TRUE(Reset(2));
}

TEST_F(ApplyMessageTest, OtherLoopKindsChangeNoSlotButStillRefreshAndSave) {
  Register(1, "0012");
  const char* frames[] = {
      "00 12 0A 00 00 18 00 00 00 34", "00 12 0A 10 00 18 00 00 00 44", "00 12 0A 30 00 18 00 00 00 64",
      "00 12 0A 40 00 18 00 00 00 74", "00 12 0A 50 00 18 00 00 00 84", "00 12 0A 60 00 18 00 00 00 94",
      "00 12 0A F0 00 18 00 00 01 24",
  };
  for (const char* frame : frames) {
    ASSERT_EQ(Decode(frame), 0) << frame;
    EXPECT_TRUE(Overdue(1)) << frame;
  }
  EXPECT_EQ(op.refreshes.size(), 7u);
  EXPECT_EQ(fs.replaceCount, 7);
  ASSERT_EQ(fs.files.count(kObjectsFileName), 1u);
  EXPECT_EQ(fs.files[kObjectsFileName].size(), kObjectsFileSize);
}

TEST_F(ApplyMessageTest, ContactIdRadioAndDiallerFramesLeaveTheObjectsAlone) {
  Register(1, "1234");
  const char* frames[] = {"12 34 1F 01 13 00 01 00 00 7A", "12 34 11 01 10 85 01 31 01 1F",
                          "00 2A 16 06 00 00 00 00 00 46"};
  for (const char* frame : frames) ASSERT_EQ(Decode(frame), 0) << frame;
  EXPECT_TRUE(Overdue(1));
  EXPECT_EQ(fs.replaceCount, 0);
  EXPECT_TRUE(op.refreshes.empty());
}

TEST_F(ApplyMessageTest, TheLogRecyclesItsOldestLinesWithoutLosingOrder) {
  settings.bSaveProtocol = 0;
  for (int i = 0; i < 50; ++i) ASSERT_EQ(Decode("12 34 1F 01 13 00 01 00 00 7A"), 0);
  Lines log = Log();
  ASSERT_EQ(log.size(), static_cast<std::size_t>(MAX_LOG_LINES));
  EXPECT_EQ(op.log, log);
  // 450 lines written: the log starts with the code line of the sixth message.
  EXPECT_EQ(log.front(), "    [130.восст]");
  EXPECT_EQ(log.back(), "    Номер зоны/пользователя:     [001]");
}

}  // namespace
}  // namespace pelvaron
