#include "decode/frame.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "decode/loop_state.h"
#include "decode/radio.h"
#include "support/fakes.h"

namespace pelvaron {
namespace {

using testing::Hex;
using Lines = std::vector<std::string>;

constexpr char kStamp[] = "06:12:2026, 08:47:42 ";
constexpr char kStampedHeader[] = "06:12:2026, 08:47:42   Сообщение : ";

// Eight data bytes and their big-endian sum.
std::string WithSum(const std::string& data) {
  std::vector<std::uint8_t> bytes = Hex(data);
  unsigned sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  char tail[16];
  std::snprintf(tail, sizeof tail, " %02X %02X", (sum >> 8) & 0xFFu, sum & 0xFFu);
  return data + tail;
}

// The lines as the event log shows them after its first line, the stamped
// one carrying a fixed time.
Lines Shown(const DecodedMessage& m) {
  Lines lines;
  for (std::size_t i = 0; i < m.lines.size(); ++i) {
    std::string line(m.lines[i]);
    lines.push_back(m.IsStamped(i) ? kStamp + ("  " + line) : line);
  }
  return lines;
}

// The frame sits in a buffer of exactly ten bytes, so a sanitizer build
// catches any read past it.
DecodedMessage Message(const std::string& hex) {
  std::vector<std::uint8_t> frame = Hex(hex);
  EXPECT_EQ(frame.size(), kFrameSize);
  return DecodeMessage(frame.data());
}

Lines Decoded(const std::string& hex) {
  DecodedMessage m = Message(hex);
  EXPECT_TRUE(m.sumOk);
  return Shown(m);
}

// The lines of a unit's own decoder alone.
template <class F>
Lines Tail(F decode) {
  DecodedMessage m;
  decode(m);
  return Shown(m);
}

TEST(DecodeMessageTest, ContactIdRestoreIsWrittenLineByLine) {
  DecodedMessage m = Message("12 34 1F 01 13 00 01 00 00 7A");
  EXPECT_EQ(Shown(m),
            (Lines{" ", kStampedHeader, "    [ 18  52  31  1  19  0  1  0  0  122  ]",
                   "     Адрес объекта:      [1234]", "     Тип прибора на объекте - [\"Contact-ID\"]",
                   "    [130.восст]", "[Восстановление охранной тревоги]", "    Код раздела:           [01]",
                   "    Номер зоны/пользователя:     [001]"}));
  // The same message as data.
  EXPECT_TRUE(m.sumOk);
  EXPECT_EQ(m.kind, MessageKind::ContactId);
  EXPECT_EQ(m.addressClass, AddressClass::Decimal);
  EXPECT_EQ(m.address, "1234");
  EXPECT_EQ(m.addressNumber, 1234);
  EXPECT_EQ(m.deviceType, 31);
  EXPECT_EQ(m.deviceName, "\"Contact-ID\"");
  EXPECT_EQ(m.subtype, -1);
  EXPECT_EQ(m.contactId.codeText, "130");
  EXPECT_EQ(m.contactId.code, 130);
  EXPECT_FALSE(m.contactId.newEvent);
  EXPECT_EQ(m.contactId.partition, "01");
  EXPECT_EQ(m.contactId.partitionNumber, 1);
  EXPECT_EQ(m.contactId.zone, "001");
  EXPECT_EQ(m.contactId.zoneNumber, 1);
  EXPECT_EQ(m.sum, 0x7A);
  EXPECT_EQ(m.raw[9], 0x7A);
}

TEST(DecodeMessageTest, TenZeroBytesPassTheSumAndAreWrittenInFull) {
  EXPECT_EQ(Decoded("00 00 00 00 00 00 00 00 00 00"),
            (Lines{" ", kStampedHeader, "    [ 0  0  0  0  0  0  0  0  0  0  ]",
                   "     Адрес объекта:      [0000]", "     Тип прибора на объекте - [Неизвестный, тип:0]",
                   "    [000.восст]", "[Нераспознанное сообщение : восстановление]",
                   "    Код раздела:           [00]", "    Номер зоны/пользователя:     [000]"}));
}

TEST(DecodeMessageTest, NewEventBitChangesOnlyTheCodeAndEventLines) {
  Lines restore = Decoded("12 34 1F 01 13 00 01 00 00 7A");
  Lines fresh = Decoded("12 34 3F 01 13 00 01 00 00 9A");
  ASSERT_EQ(fresh.size(), restore.size());
  EXPECT_EQ(fresh[4], restore[4]);
  EXPECT_EQ(fresh[5], "    [130.нов]");
  EXPECT_EQ(fresh[6], "[Охранная тревога]");
  EXPECT_EQ(fresh[7], restore[7]);
  EXPECT_EQ(fresh[8], restore[8]);
  EXPECT_TRUE(Message("12 34 3F 01 13 00 01 00 00 9A").contactId.newEvent);
}

TEST(DecodeMessageTest, AWrongSumGivesNoLinesButKeepsWhatCame) {
  const char* frames[] = {
      "12 34 1F 01 13 00 01 00 00 7B",  // low byte off by one
      "12 34 1F 01 13 00 01 00 01 7A",  // right low byte, wrong high byte
      "99 99 1F 01 13 00 01 00 00 66",  // the sum 0x166 cut to eight bits
  };
  for (const char* hex : frames) {
    SCOPED_TRACE(hex);
    DecodedMessage m = Message(hex);
    EXPECT_FALSE(m.sumOk);
    EXPECT_EQ(m.kind, MessageKind::BadSum);
    EXPECT_TRUE(m.lines.empty());
    EXPECT_EQ(m.raw[0], Hex(hex)[0]);
  }
  EXPECT_EQ(Message("99 99 1F 01 13 00 01 00 00 66").sum, 0x166);
}

TEST(DecodeMessageTest, SumAboveOneByteIsAccepted) {
  Lines lines = Decoded(WithSum("99 99 3F 99 99 99 99 FF"));
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[2], "    [ 153  153  63  153  153  153  153  255  4  212  ]");
  EXPECT_EQ(lines[3], "     Адрес объекта:      [9999]");
  EXPECT_EQ(lines[5], "    [999.нов]");
  EXPECT_EQ(lines[7], "    Код раздела:           [99]");
  EXPECT_EQ(lines[8], "    Номер зоны/пользователя:     [999]");
}

TEST(DecodeMessageTest, OnlyTheFirstTenBytesAreRead) {
  std::vector<std::uint8_t> buffer = Hex("12 34 1F 01 13 00 01 00 00 7A");
  buffer.resize(64, 0xFF);
  EXPECT_EQ(Shown(DecodeMessage(buffer.data())), Decoded("12 34 1F 01 13 00 01 00 00 7A"));
}

TEST(DecodeMessageTest, ANullFrameIsNoMessage) {
  DecodedMessage m = DecodeMessage(nullptr);
  EXPECT_FALSE(m.sumOk);
  EXPECT_TRUE(m.lines.empty());
}

TEST(DecodeMessageTest, AReusedValueHoldsOnlyTheNewFrame) {
  DecodedMessage m;
  DecodeMessage(Hex(WithSum("12 34 11 01 00 C1 FF 38")).data(), m);  // radio: eight records
  ASSERT_EQ(m.radioCount, 8u);
  DecodeMessage(Hex("12 34 1F 01 13 00 01 00 00 7A").data(), m);
  EXPECT_EQ(Shown(m), Decoded("12 34 1F 01 13 00 01 00 00 7A"));
  EXPECT_EQ(m.radioCount, 0u);
  EXPECT_EQ(m.subtype, -1);
  DecodeMessage(Hex("12 34 1F 01 13 00 01 00 00 7B").data(), m);
  EXPECT_TRUE(m.lines.empty());
}

TEST(DecodeMessageTest, DecimalUnitNames) {
  struct Case {
    int deviceType;
    const char* name;
  };
  const Case cases[] = {
      {0, "Неизвестный, тип:0"},
      {1, "Доркан - 4 шл."},
      {2, "Доркан - 8 шл."},
      {3, "Доркан - 512"},
      {4, "Лирма -2"},
      {5, "Пирвен - 2А"},
      {6, "Пирвен - 4А"},
      {7, "Пирвен - 3"},
      {8, "Пирвен"},
      {9, "Сигнальные контакты"},
      {10, "ОРН"},
      {11, "Сеть"},
      {12, "Лирма-4"},
      {13, "Тамсир исп.4"},
      {14, "Неизвестный, тип:14"},
      {15, "Неизвестный, тип:15"},
      {24, "Неизвестный, тип:24"},
      {30, "Неизвестный, тип:30"},
      {31, "\"Contact-ID\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.deviceType);
    char data[32];
    std::snprintf(data, sizeof data, "00 12 %02X 01 13 00 01 00", c.deviceType);
    DecodedMessage m = Message(WithSum(data));
    EXPECT_EQ(m.deviceName, c.name);
    Lines lines = Shown(m);
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[3], "     Адрес объекта:      [0012]");
    EXPECT_EQ(lines[4], std::string("     Тип прибора на объекте - [") + c.name + "]");
    // Every decimal unit but the loop-state one is decoded as Contact ID.
    if (c.deviceType != 10) {
      EXPECT_EQ(m.kind, MessageKind::ContactId);
      ASSERT_EQ(lines.size(), 9u);
      EXPECT_EQ(lines[6], "[Восстановление охранной тревоги]");
    } else {
      EXPECT_EQ(m.kind, MessageKind::LoopState);
      for (const std::string& line : lines) EXPECT_EQ(line.find("Код раздела"), std::string::npos);
    }
  }
}

TEST(DecodeMessageTest, BitsSixAndSevenOfTheUnitTypeAreIgnored) {
  const char* pairs[][2] = {
      {"00 12 0A 21 C3 40 00 00", "00 12 CA 21 C3 40 00 00"},  // loop-state unit
      {"00 12 1F 01 13 00 01 00", "00 12 DF 01 13 00 01 00"},  // Contact ID restore
      {"00 12 3F 01 13 00 01 00", "00 12 7F 01 13 00 01 00"},  // Contact ID new
      {"12 34 11 01 10 85 01 31", "12 34 91 01 10 85 01 31"},  // radio unit
  };
  for (auto& pair : pairs) {
    SCOPED_TRACE(pair[1]);
    Lines x = Decoded(WithSum(pair[0]));
    Lines y = Decoded(WithSum(pair[1]));
    ASSERT_EQ(x.size(), y.size());
    // Only the raw-byte line shows the difference.
    for (std::size_t i = 0; i < x.size(); ++i) {
      if (i == 2) continue;
      EXPECT_EQ(x[i], y[i]) << "line " << i;
    }
    EXPECT_NE(x[2], y[2]);
  }
}

TEST(DecodeMessageTest, BinaryAddressClassIsDeviceTypesSixteenToTwentyThree) {
  for (int deviceType : {15, 16, 17, 20, 23, 24}) {
    SCOPED_TRACE(deviceType);
    char data[32];
    std::snprintf(data, sizeof data, "12 34 %02X 07 AB CD EF 01", deviceType);
    DecodedMessage m = Message(WithSum(data));
    Lines lines = Shown(m);
    const bool binary = deviceType >= 16 && deviceType <= 23;
    EXPECT_EQ(m.addressClass, binary ? AddressClass::Binary : AddressClass::Decimal);
    EXPECT_EQ(m.addressNumber, binary ? 4660 : 1234);
    if (binary) {
      // An unknown subtype is named by its number and gets nothing more.
      EXPECT_EQ(m.kind, MessageKind::UnknownUnit);
      EXPECT_EQ(m.subtype, 7);
      ASSERT_EQ(lines.size(), 6u);
      EXPECT_EQ(lines[3], "    (Тело: ab cd ef 01)");
      EXPECT_EQ(lines[4], "     Адрес объекта:      [4660]");
      EXPECT_EQ(lines[5], "     Тип прибора на объекте - [Неизвестный, тип:7]");
    } else {
      ASSERT_EQ(lines.size(), 9u);
      EXPECT_EQ(lines[3], "     Адрес объекта:      [1234]");
    }
  }
}

TEST(DecodeMessageTest, BinaryAddressIsAnUnsignedSixteenBitNumber) {
  DecodedMessage m = Message(WithSum("FF FF 10 00 00 00 00 00"));
  EXPECT_EQ(m.address, "65535");
  EXPECT_EQ(m.addressNumber, 65535);
  Lines lines = Shown(m);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[3], "    (Тело: 00 00 00 00)");
  EXPECT_EQ(lines[4], "     Адрес объекта:      [65535]");
  EXPECT_EQ(lines[5], "     Тип прибора на объекте - [Неизвестный, тип:0]");
}

TEST(DecodeMessageTest, RadioUnitGetsTheRadioLinesOnly) {
  DecodedMessage m = Message(WithSum("12 34 11 01 10 C5 FF 31"));
  Lines lines = Shown(m);
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[3], "    (Тело: 10 c5 ff 31)");
  EXPECT_EQ(lines[4], "     Адрес объекта:      [4660]");
  EXPECT_EQ(lines[5], "     Тип прибора на объекте - [Варгот]");
  EXPECT_EQ(Lines(lines.begin() + 6, lines.end()),
            Tail([](DecodedMessage& d) { DecodeRadioMessage(RadioRecord{0x10, 0xC5, 0xFF, 0x31}, d); }));
  EXPECT_EQ(m.kind, MessageKind::Radio);
  EXPECT_EQ(m.subtype, 1);
  // One record per line, each for its own partition of the upper bank.
  ASSERT_EQ(m.radioCount, 8u);
  EXPECT_EQ(m.radio[0].detail, 9);
  EXPECT_EQ(m.radio[7].detail, 16);
  EXPECT_EQ(m.radio[0].eventCode, 0x10);
  EXPECT_TRUE(m.radio[0].newEvent);
  EXPECT_TRUE(m.radio[0].upperBank);
  EXPECT_EQ(m.radio[0].expander, 3);
  EXPECT_EQ(m.radio[0].deviceKind, 1);
  EXPECT_EQ(m.radio[0].source, 5);
}

TEST(DecodeMessageTest, DiallerUnitGetsItsOneLine) {
  DecodedMessage m = Message(WithSum("00 2A 16 06 21 00 00 00"));
  Lines lines = Shown(m);
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[3], "    (Тело: 21 00 00 00)");
  EXPECT_EQ(lines[4], "     Адрес объекта:      [42]");
  EXPECT_EQ(lines[5], "     Тип прибора на объекте - [Тамсир и.1]");
  EXPECT_EQ(Lines(lines.begin() + 6, lines.end()), Tail([](DecodedMessage& d) { DecodeDiallerMessage(0x21, d); }));
  EXPECT_EQ(m.kind, MessageKind::Dialler);
  EXPECT_EQ(m.dialler.byte, 0x21);
  EXPECT_EQ(m.dialler.message, 2);
  EXPECT_TRUE(m.dialler.set);
  EXPECT_TRUE(m.dialler.known);
}

TEST(DecodeMessageTest, LoopStateUnitGetsTheLoopLinesWithItsAddress) {
  DecodedMessage m = Message(WithSum("04 27 0A 23 C3 38 00 00"));
  Lines lines = Shown(m);
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[3], "     Адрес объекта:      [0427]");
  EXPECT_EQ(lines[4], "     Тип прибора на объекте - [ОРН]");
  Lines tail(lines.begin() + 5, lines.end());
  EXPECT_EQ(tail, Tail([](DecodedMessage& d) { DecodeLoopState(0x23, 0xC3, 0x38, d); }));
  for (const std::string& line : tail) EXPECT_EQ(line.find("Код раздела"), std::string::npos);
  EXPECT_EQ(m.kind, MessageKind::LoopState);
  EXPECT_TRUE(m.loopState.controlMessage);
  EXPECT_EQ(m.loopState.guard, 3);
  EXPECT_TRUE(m.loopState.duress);
}

TEST(DecodeMessageTest, NibblesAboveNineShowAsHexLetters) {
  // Address AB CD, partition F0, code 3A0, zone EFF.
  DecodedMessage m = Message(WithSum("AB CD 3F F0 3A 0E FF 00"));
  Lines lines = Shown(m);
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[3], "     Адрес объекта:      [ABCD]");
  EXPECT_EQ(lines[5], "    [3A0.нов]");
  // Not 400 (3*100 + 10*10): a code with a letter has no number at all.
  EXPECT_EQ(lines[6], "[Нераспознанное сообщение]");
  EXPECT_EQ(lines[7], "    Код раздела:           [F0]");
  EXPECT_EQ(lines[8], "    Номер зоны/пользователя:     [EFF]");
  EXPECT_EQ(m.addressNumber, -1);
  EXPECT_EQ(m.contactId.code, -1);
  EXPECT_EQ(m.contactId.partitionNumber, -1);
  EXPECT_EQ(m.contactId.zoneNumber, -1);
}

TEST(DecodeMessageTest, ALetterInAnyCodeDigitGivesTheFallback) {
  struct Case {
    const char* data;
    const char* code;
  };
  // 13 0A is code 130 with zone digit A: the code itself stays valid.
  const Case cases[] = {{"00 01 1F 01 A3 00 01 00", "    [A30.восст]"},
                        {"00 01 1F 01 1A 00 01 00", "    [1A0.восст]"},
                        {"00 01 1F 01 13 F0 01 00", "    [13F.восст]"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data);
    Lines lines = Decoded(WithSum(c.data));
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[5], c.code);
    EXPECT_EQ(lines[6], "[Нераспознанное сообщение : восстановление]");
  }
  Lines valid = Decoded(WithSum("00 01 1F 01 13 0A 01 00"));
  EXPECT_EQ(valid[6], "[Восстановление охранной тревоги]");
  EXPECT_EQ(valid[8], "    Номер зоны/пользователя:     [A01]");
}

TEST(DecodeMessageTest, KindNamesAreDistinct) {
  const MessageKind kinds[] = {MessageKind::BadSum, MessageKind::ContactId, MessageKind::LoopState,
                               MessageKind::Dialler, MessageKind::Radio, MessageKind::UnknownUnit};
  std::vector<std::string_view> names;
  for (MessageKind k : kinds) {
    for (std::string_view seen : names) EXPECT_NE(MessageKindName(k), seen);
    names.push_back(MessageKindName(k));
  }
  EXPECT_EQ(MessageKindName(MessageKind::ContactId), "contact-id");
}

}  // namespace
}  // namespace pelvaron
