#include "decode/loop_state.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/cp1251.h"


namespace pelvaron {
namespace {

std::vector<std::string> Lines(const DecodedMessage& m) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < m.lines.size(); ++i) lines.emplace_back(m.lines[i]);
  return lines;
}

std::vector<std::string> Decode(std::uint8_t kindByte, std::uint8_t loopByte, std::uint8_t guardByte) {
  DecodedMessage m;
  DecodeLoopState(kindByte, loopByte, guardByte, m);
  return Lines(m);
}

std::vector<std::string> Dialler(std::uint8_t diallerByte) {
  DecodedMessage m;
  DecodeDiallerMessage(diallerByte, m);
  return Lines(m);
}

TEST(LoopStateTest, ControlMessageUnderDuressExample) {
  EXPECT_EQ(Decode(0x22, 0x02, 0x38), (std::vector<std::string>{
                                          "  Контрольное извещение от охранника N 3, под принуждением !",
                                          "   ШС1 = состояние: { норма, охраняется, \"норма\" }",
                                          "              описание: { охранный, cвязан c ПЦН}",
                                          "   ШС2 = состояние: { норма, не охраняется, \"норма\" }",
                                          "              описание: { охранный, не cвязан c ПЦН}",
                                      }));
}

TEST(LoopStateTest, LinkTextsUseTheLatinLetterC) {
  std::string file;
  for (const std::string& line : Decode(0x22, 0x02, 0x38)) file += Utf8ToCp1251Lossy(line) + "\r\n";
  // Windows-1251 "вязан" after a Latin 'c', and the Latin one-letter preposition.
  EXPECT_NE(file.find("c\xE2\xFF\xE7\xE0\xED c \xCF\xD6\xCD}"), std::string::npos);
  EXPECT_NE(file.find("\xED\xE5 c\xE2\xFF\xE7\xE0\xED c \xCF\xD6\xCD}"), std::string::npos);
}

TEST(LoopStateTest, FirstLineByKind) {
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

TEST(LoopStateTest, SilentAlarmLinesOfKindSix) {
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

TEST(LoopStateTest, EachLoopReadsItsOwnBits) {
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

TEST(LoopStateTest, LoopTypes) {
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

TEST(LoopStateTest, OnlyKindTwoIsAControlMessage) {
  for (int kind = 0; kind < 16; ++kind) {
    DecodedMessage m;
    DecodeLoopState(static_cast<std::uint8_t>(kind << 4), 0x00, 0x18, m);
    EXPECT_EQ(m.loopState.controlMessage, kind == 2) << kind;
    EXPECT_EQ(m.loopState.kind, kind);
  }
}

TEST(LoopStateTest, FieldsFollowTheLines) {
  DecodedMessage m;
  DecodeLoopState(0x6A, 0x92, 0x80, m);  // kind 6, loop 1 armed and in alarm, silent alarm on loop 1
  const LoopStateFields& f = m.loopState;
  EXPECT_TRUE(f.loops[0].silentAlarm);
  EXPECT_FALSE(f.loops[1].silentAlarm);
  EXPECT_TRUE(f.loops[0].broken);
  EXPECT_TRUE(f.loops[0].armed);
  EXPECT_TRUE(f.loops[0].alarm);
  EXPECT_EQ(f.loops[0].loopType, 1);
  EXPECT_TRUE(f.loops[0].linked);
  EXPECT_FALSE(f.loops[1].linked);
  EXPECT_EQ(Lines(m)[1], "  ШС1 - \"тихая тревога\"");
  EXPECT_EQ(Lines(m)[2], "   ШС1 = состояние: { нарушен, охраняется, \"тревога\" }");
  EXPECT_EQ(Lines(m)[3], "              описание: { тревожный, cвязан c ПЦН}");
}

TEST(LoopStateTest, EveryByteValueDecodes) {
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

TEST(LoopStateTest, DiallerMessages) {
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
}

}  // namespace
}  // namespace pelvaron
