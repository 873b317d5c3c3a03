#include "decode/loop_state.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/fixed_text.h"
#include "support/fakes.h"

namespace pelvaron {
namespace {

using testing::FakeClock;
using testing::MemoryFileSystem;
using testing::RecordingOperator;

class LoopStateTest : public ::testing::Test {
 protected:
  // A fresh writer per message, so that the log's 400-line limit never hides a line.
  std::vector<std::string> Decode(std::uint8_t kindByte, std::uint8_t loopByte, std::uint8_t guardByte,
                                  const std::string& address = "0012") {
    EventProtocol fresh{settings, clock, fs, op};
    EXPECT_EQ(DecodeLoopState(kindByte, loopByte, guardByte, address, fresh, objects), 0);
    return {fresh.EventLog().begin(), fresh.EventLog().end()};
  }

  std::vector<std::string> Dialler(std::uint8_t diallerByte) {
    EventProtocol fresh{settings, clock, fs, op};
    DecodeDiallerMessage(diallerByte, fresh);
    return {fresh.EventLog().begin(), fresh.EventLog().end()};
  }

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
  ObjectRegistry objects{fs, op};
};

TEST_F(LoopStateTest, ControlMessageUnderDuressExample) {
  EXPECT_EQ(Decode(0x22, 0x02, 0x38), (std::vector<std::string>{
                                          "  Контрольное извещение от охранника N 3, под принуждением !",
                                          "   ШС1 = состояние: { норма, охраняется, \"норма\" }",
                                          "              описание: { охранный, cвязан c ПЦН}",
                                          "   ШС2 = состояние: { норма, не охраняется, \"норма\" }",
                                          "              описание: { охранный, не cвязан c ПЦН}",
                                      }));
}

TEST_F(LoopStateTest, LinkTextsUseTheLatinLetterC) {
  Decode(0x22, 0x02, 0x38);
  const std::string file = fs.Text("protocol.txt");
  // Windows-1251 "вязан" after a Latin 'c', and the Latin one-letter preposition.
  EXPECT_NE(file.find("c\xE2\xFF\xE7\xE0\xED c \xCF\xD6\xCD}"), std::string::npos);
  EXPECT_NE(file.find("\xED\xE5 c\xE2\xFF\xE7\xE0\xED c \xCF\xD6\xCD}"), std::string::npos);
}

TEST_F(LoopStateTest, FirstLineByKind) {
  struct Case {
    std::uint8_t kindByte;
    std::uint8_t guardByte;
    const char* first;
  };
  const Case cases[] = {
      {0x10, 0xF8, "  Восстановление датчика вскрытия УОО-ОРН"},
      {0x10, 0x78, "  Нарушен датчик вскрытия УОО-ОРН"},
      {0x10, 0x00, "  Нарушен датчик вскрытия УОО-ОРН"},
      {0x20, 0xF0, "  Контрольное извещение от охранника N 15"},
      {0x20, 0x08, "  Контрольное извещение от охранника N 0, под принуждением !"},
      {0x30, 0x18, "  Дополнительное извещение от охранника N 1, под принуждением !"},
      {0x30, 0x10, "  Дополнительное извещение от охранника N 1"},
      {0x40, 0x58, "  Постановка шлейфов под охрану охранником N 5"},
      {0x50, 0x98, "  Снятие шлейфов с охраны охранником N 9, под принуждением !"},
      {0x50, 0x97, "  Снятие шлейфов с охраны охранником N 9"},
      {0x60, 0x08, "  Тревога по шлейфам"},
      {0x00, 0x38, "  Нераспознанный тип сообщения"},
      {0x70, 0x38, "  Нераспознанный тип сообщения"},
      {0xF0, 0x38, "  Нераспознанный тип сообщения"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> lines = Decode(c.kindByte, 0x00, c.guardByte);
    ASSERT_EQ(lines.size(), 5u) << c.first;
    EXPECT_EQ(lines[0], c.first);
  }
}

TEST_F(LoopStateTest, SilentAlarmLinesOfKindSix) {
  std::vector<std::string> both = Decode(0x60, 0x00, 0xC0);
  ASSERT_EQ(both.size(), 7u);
  EXPECT_EQ(both[0], "  Тревога по шлейфам");
  EXPECT_EQ(both[1], "  ШС1 - \"тихая тревога\"");
  EXPECT_EQ(both[2], "  ШС2 - \"тихая тревога\"");
  EXPECT_EQ(both[3].rfind("   ШС1 = ", 0), 0u);

  std::vector<std::string> none = Decode(0x60, 0x00, 0x00);
  ASSERT_EQ(none.size(), 5u);
  EXPECT_EQ(none[1].rfind("   ШС1 = ", 0), 0u);

  std::vector<std::string> second = Decode(0x60, 0x00, 0x40);
  ASSERT_EQ(second.size(), 6u);
  EXPECT_EQ(second[1], "  ШС2 - \"тихая тревога\"");

  // The same bits mean the tamper state for kind 1, never a silent alarm.
  EXPECT_EQ(Decode(0x10, 0x00, 0xC0).size(), 5u);
}

TEST_F(LoopStateTest, EachLoopReadsItsOwnBits) {
  std::vector<std::string> lines = Decode(0x0A, 0x40, 0x00);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1], "   ШС1 = состояние: { норма, охраняется, \"тревога\" }");
  EXPECT_EQ(lines[3], "   ШС2 = состояние: { нарушен, не охраняется, \"норма\" }");

  lines = Decode(0x05, 0x81, 0x00);
  EXPECT_EQ(lines[1], "   ШС1 = состояние: { нарушен, не охраняется, \"норма\" }");
  EXPECT_EQ(lines[2], "              описание: { охранный, не cвязан c ПЦН}");
  EXPECT_EQ(lines[3], "   ШС2 = состояние: { норма, охраняется, \"тревога\" }");
  EXPECT_EQ(lines[4], "              описание: { охранный, cвязан c ПЦН}");
}

TEST_F(LoopStateTest, LoopTypes) {
  std::vector<std::string> lines = Decode(0x20, 0x18, 0x00);
  EXPECT_EQ(lines[2], "              описание: { тревожный, не cвязан c ПЦН}");
  EXPECT_EQ(lines[4], "              описание: { , не cвязан c ПЦН}");

  lines = Decode(0x20, 0x34, 0x00);
  EXPECT_EQ(lines[2], "              описание: { , не cвязан c ПЦН}");
  EXPECT_EQ(lines[4], "              описание: { тревожный, не cвязан c ПЦН}");

  lines = Decode(0x20, 0x2C, 0x00);
  EXPECT_EQ(lines[2], "              описание: { , не cвязан c ПЦН}");
  EXPECT_EQ(lines[4], "              описание: { , не cвязан c ПЦН}");
}

TEST_F(LoopStateTest, ControlMessageResetsEverySlotOfItsAddress) {
  Register(1, "0012");
  Register(2, "0034");
  Register(3, "0012");
  Register(4, "012");
  Register(5, "00120");
  Decode(0x20, 0x00, 0x10, "0012");
  EXPECT_TRUE(Reset(1));
  EXPECT_TRUE(Overdue(2));
  EXPECT_TRUE(Reset(3));
  EXPECT_TRUE(Overdue(4));
  EXPECT_TRUE(Overdue(5));
}

TEST_F(LoopStateTest, ControlMessageStopsAtTheFirstFreeSlot) {
  Register(1, "0012");
  Register(3, "0012");  // behind a hole: not part of the table's run
  Decode(0x20, 0x00, 0x10, "0012");
  EXPECT_TRUE(Reset(1));
  EXPECT_TRUE(Overdue(3));
}

TEST_F(LoopStateTest, AddressFillingTheWholeFieldIsReadToItsEnd) {
  Register(1, "00120000");  // eight characters, no terminating zero
  Register(2, "0012");
  Decode(0x20, 0x00, 0x10, "0012");
  EXPECT_TRUE(Overdue(1));
  EXPECT_TRUE(Reset(2));
}

TEST_F(LoopStateTest, OtherKindsChangeNoSlotButStillSave) {
  Register(1, "0012");
  for (std::uint8_t kindByte : {0x00, 0x10, 0x30, 0x40, 0x50, 0x60, 0xF0}) {
    Decode(kindByte, 0x00, 0x18, "0012");
    EXPECT_TRUE(Overdue(1)) << int{kindByte};
  }
  EXPECT_EQ(op.refreshes.size(), 7u);
  EXPECT_EQ(fs.replaceCount, 7);
  ASSERT_EQ(fs.files.count(kObjectsFileName), 1u);
  EXPECT_EQ(fs.files[kObjectsFileName].size(), kObjectsFileSize);
}

TEST_F(LoopStateTest, EveryByteValueDecodes) {
  settings.bSaveProtocol = 0;
  Register(1, "0012");
  for (int kindByte = 0; kindByte < 256; ++kindByte) {
    for (std::uint8_t loopByte : {0x00, 0x5A, 0xA5, 0xFF}) {
      for (std::uint8_t guardByte : {0x00, 0x48, 0xC0, 0xFF}) {
        std::vector<std::string> lines = Decode(static_cast<std::uint8_t>(kindByte), loopByte, guardByte);
        const std::size_t expected =
            (kindByte >> 4) == 6 ? 5u + (guardByte >> 7) + ((guardByte >> 6) & 1) : 5u;
        ASSERT_EQ(lines.size(), expected) << kindByte << " " << int{guardByte};
        ASSERT_EQ(lines[lines.size() - 4].rfind("   ШС1 = состояние: { ", 0), 0u);
        ASSERT_EQ(lines.back().rfind("              описание: { ", 0), 0u);
      }
    }
  }
}

TEST_F(LoopStateTest, DiallerMessages) {
  struct Case {
    std::uint8_t diallerByte;
    const char* line;
  };
  const Case cases[] = {
      {0x00, "Контрольное извещение"},
      {0x0F, "Контрольное извещение"},
      {0x11, "Включение Тамсир и.1"},
      {0x21, "Корпус Тамсир вскрыт"},
      {0x20, "Корпус Тамсир закрыт"},
      {0x2E, "Корпус Тамсир закрыт"},
      {0x31, "Нарушена линия связи с РР-ВЗ"},
      {0x30, "Линия связи с РР-ВЗ восставновлена"},
      {0x45, ""},
      {0xFF, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Dialler(c.diallerByte), std::vector<std::string>{c.line}) << int{c.diallerByte};
  }
  EXPECT_TRUE(op.refreshes.empty());
  EXPECT_EQ(fs.replaceCount, 0);
}

}  // namespace
}  // namespace pelvaron
