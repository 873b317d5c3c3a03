#include "decode/frame.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "decode/loop_state.h"
#include "decode/radio.h"
#include "support/fakes.h"

namespace pelvaron {
namespace {

using testing::Cp;
using testing::FakeClock;
using testing::Hex;
using testing::MemoryFileSystem;
using testing::RecordingOperator;
using Lines = std::vector<std::string>;

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

// One console's worth of the things a frame is written into.
struct Sink {
  Sink() : settings(ConsoleSettings::Defaults()), protocol(settings, clock, fs, op), objects(fs, op) {
    clock.SetLocal(2026, 12, 6, 8, 47, 42);
  }
  FakeClock clock;
  MemoryFileSystem fs;
  RecordingOperator op;
  ConsoleSettings settings;
  EventProtocol protocol;
  ObjectRegistry objects;

  Lines Log() const { return {protocol.EventLog().begin(), protocol.EventLog().end()}; }
};

class DecodeFrameTest : public ::testing::Test {
 protected:
  // The frame sits in a buffer of exactly ten bytes, so a sanitizer build
  // catches any read past it.
  int Decode(const std::string& hex) {
    std::vector<std::uint8_t> frame = Hex(hex);
    EXPECT_EQ(frame.size(), kFrameSize);
    return DecodeFrame(frame.data(), sink.protocol, sink.op, sink.objects);
  }
  Lines Decoded(const std::string& hex) {
    EXPECT_EQ(Decode(hex), 0);
    return sink.Log();
  }

  Sink sink;
};

TEST_F(DecodeFrameTest, ContactIdRestoreIsWrittenLineByLine) {
  EXPECT_EQ(Decoded("12 34 1F 01 13 00 01 00 00 7A"),
            (Lines{" ", kStampedHeader, "    [ 18  52  31  1  19  0  1  0  0  122  ]",
                   "     Адрес объекта:      [1234]", "     Тип прибора на объекте - [\"Contact-ID\"]",
                   "    [130.восст]", "[Восстановление охранной тревоги]", "    Код раздела:           [01]",
                   "    Номер зоны/пользователя:     [001]"}));
  EXPECT_TRUE(sink.op.messages.empty());
}

TEST_F(DecodeFrameTest, TenZeroBytesPassTheSumAndAreWrittenInFull) {
  EXPECT_EQ(Decoded("00 00 00 00 00 00 00 00 00 00"),
            (Lines{" ", kStampedHeader, "    [ 0  0  0  0  0  0  0  0  0  0  ]",
                   "     Адрес объекта:      [0000]", "     Тип прибора на объекте - [Неизвестный, тип:0]",
                   "    [000.восст]", "[Нераспознанное сообщение : восстановление]",
                   "    Код раздела:           [00]", "    Номер зоны/пользователя:     [000]"}));
}

TEST_F(DecodeFrameTest, NewEventBitChangesOnlyTheCodeAndEventLines) {
  Lines restore = Decoded("12 34 1F 01 13 00 01 00 00 7A");
  Sink other;
  std::vector<std::uint8_t> frame = Hex("12 34 3F 01 13 00 01 00 00 9A");
  ASSERT_EQ(DecodeFrame(frame.data(), other.protocol, other.op, other.objects), 0);
  Lines fresh = other.Log();
  ASSERT_EQ(fresh.size(), restore.size());
  EXPECT_EQ(fresh[4], restore[4]);
  EXPECT_EQ(fresh[5], "    [130.нов]");
  EXPECT_EQ(fresh[6], "[Охранная тревога]");
  EXPECT_EQ(fresh[7], restore[7]);
  EXPECT_EQ(fresh[8], restore[8]);
}

TEST_F(DecodeFrameTest, WrongSumWritesNothingAndShowsTheMessage) {
  const char* frames[] = {
      "12 34 1F 01 13 00 01 00 00 7B",  // low byte off by one
      "12 34 1F 01 13 00 01 00 01 7A",  // right low byte, wrong high byte
      "99 99 1F 01 13 00 01 00 00 66",  // the sum 0x166 cut to eight bits
  };
  for (const char* hex : frames) {
    SCOPED_TRACE(hex);
    Sink fresh;
    std::vector<std::uint8_t> frame = Hex(hex);
    EXPECT_EQ(DecodeFrame(frame.data(), fresh.protocol, fresh.op, fresh.objects), 1);
    EXPECT_TRUE(fresh.Log().empty());
    EXPECT_TRUE(fresh.op.log.empty());
    EXPECT_EQ(fresh.fs.appendCount, 0);
    ASSERT_EQ(fresh.op.messages.size(), 1u);
    EXPECT_EQ(fresh.op.messages[0],
              (OperatorMessage{"Ошибка контрольной суммы!", "Ошибка", MessageIcon::Error}));
  }
}

TEST_F(DecodeFrameTest, SumAboveOneByteIsAccepted) {
  Lines lines = Decoded(WithSum("99 99 3F 99 99 99 99 FF"));
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[2], "    [ 153  153  63  153  153  153  153  255  4  212  ]");
  EXPECT_EQ(lines[3], "     Адрес объекта:      [9999]");
  EXPECT_EQ(lines[5], "    [999.нов]");
  EXPECT_EQ(lines[7], "    Код раздела:           [99]");
  EXPECT_EQ(lines[8], "    Номер зоны/пользователя:     [999]");
}

TEST_F(DecodeFrameTest, OnlyTheFirstTenBytesAreRead) {
  std::vector<std::uint8_t> buffer = Hex("12 34 1F 01 13 00 01 00 00 7A");
  buffer.resize(64, 0xFF);
  ASSERT_EQ(DecodeFrame(buffer.data(), sink.protocol, sink.op, sink.objects), 0);
  Sink exact;
  std::vector<std::uint8_t> frame = Hex("12 34 1F 01 13 00 01 00 00 7A");
  ASSERT_EQ(DecodeFrame(frame.data(), exact.protocol, exact.op, exact.objects), 0);
  EXPECT_EQ(sink.Log(), exact.Log());
}

TEST_F(DecodeFrameTest, NullFrameIsRefusedSilently) {
  EXPECT_EQ(DecodeFrame(nullptr, sink.protocol, sink.op, sink.objects), 1);
  EXPECT_TRUE(sink.Log().empty());
  EXPECT_TRUE(sink.op.messages.empty());
}

TEST_F(DecodeFrameTest, DecimalUnitNames) {
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
    Sink fresh;
    char data[32];
    std::snprintf(data, sizeof data, "00 12 %02X 01 13 00 01 00", c.deviceType);
    std::vector<std::uint8_t> frame = Hex(WithSum(data));
    ASSERT_EQ(DecodeFrame(frame.data(), fresh.protocol, fresh.op, fresh.objects), 0);
    Lines lines = fresh.Log();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[3], "     Адрес объекта:      [0012]");
    EXPECT_EQ(lines[4], std::string("     Тип прибора на объекте - [") + c.name + "]");
    // Every decimal unit but the loop-state one is decoded as Contact ID.
    if (c.deviceType != 10) {
      ASSERT_EQ(lines.size(), 9u);
      EXPECT_EQ(lines[6], "[Восстановление охранной тревоги]");
    } else {
      for (const std::string& line : lines) EXPECT_EQ(line.find("Код раздела"), std::string::npos);
    }
  }
}

TEST_F(DecodeFrameTest, BitsSixAndSevenOfTheUnitTypeAreIgnored) {
  const char* pairs[][2] = {
      {"00 12 0A 21 C3 40 00 00", "00 12 CA 21 C3 40 00 00"},  // loop-state unit
      {"00 12 1F 01 13 00 01 00", "00 12 DF 01 13 00 01 00"},  // Contact ID restore
      {"00 12 3F 01 13 00 01 00", "00 12 7F 01 13 00 01 00"},  // Contact ID new
      {"12 34 11 01 10 85 01 31", "12 34 91 01 10 85 01 31"},  // radio unit
  };
  for (auto& pair : pairs) {
    SCOPED_TRACE(pair[1]);
    Sink plain, high;
    std::vector<std::uint8_t> a = Hex(WithSum(pair[0]));
    std::vector<std::uint8_t> b = Hex(WithSum(pair[1]));
    ASSERT_EQ(DecodeFrame(a.data(), plain.protocol, plain.op, plain.objects), 0);
    ASSERT_EQ(DecodeFrame(b.data(), high.protocol, high.op, high.objects), 0);
    Lines x = plain.Log(), y = high.Log();
    ASSERT_EQ(x.size(), y.size());
    // Only the raw-byte line shows the difference.
    for (std::size_t i = 0; i < x.size(); ++i) {
      if (i == 2) continue;
      EXPECT_EQ(x[i], y[i]) << "line " << i;
    }
    EXPECT_NE(x[2], y[2]);
  }
}

TEST_F(DecodeFrameTest, BinaryAddressClassIsDeviceTypesSixteenToTwentyThree) {
  for (int deviceType : {15, 16, 17, 20, 23, 24}) {
    SCOPED_TRACE(deviceType);
    Sink fresh;
    char data[32];
    std::snprintf(data, sizeof data, "12 34 %02X 07 AB CD EF 01", deviceType);
    std::vector<std::uint8_t> frame = Hex(WithSum(data));
    ASSERT_EQ(DecodeFrame(frame.data(), fresh.protocol, fresh.op, fresh.objects), 0);
    Lines lines = fresh.Log();
    bool binary = deviceType >= 16 && deviceType <= 23;
    if (binary) {
      // An unknown subtype is named by its number and gets nothing more.
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

TEST_F(DecodeFrameTest, BinaryAddressIsAnUnsignedSixteenBitNumber) {
  Lines lines = Decoded(WithSum("FF FF 10 00 00 00 00 00"));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[3], "    (Тело: 00 00 00 00)");
  EXPECT_EQ(lines[4], "     Адрес объекта:      [65535]");
  EXPECT_EQ(lines[5], "     Тип прибора на объекте - [Неизвестный, тип:0]");
}

TEST_F(DecodeFrameTest, RadioUnitGetsTheRadioLinesOnly) {
  Lines lines = Decoded(WithSum("12 34 11 01 10 C5 FF 31"));
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[3], "    (Тело: 10 c5 ff 31)");
  EXPECT_EQ(lines[4], "     Адрес объекта:      [4660]");
  EXPECT_EQ(lines[5], "     Тип прибора на объекте - [Варгот]");

  Sink direct;
  DecodeRadioMessage(RadioRecord{0x10, 0xC5, 0xFF, 0x31}, direct.protocol);
  EXPECT_EQ(Lines(lines.begin() + 6, lines.end()), direct.Log());
}

TEST_F(DecodeFrameTest, DiallerUnitGetsItsOneLine) {
  Lines lines = Decoded(WithSum("00 2A 16 06 21 00 00 00"));
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[3], "    (Тело: 21 00 00 00)");
  EXPECT_EQ(lines[4], "     Адрес объекта:      [42]");
  EXPECT_EQ(lines[5], "     Тип прибора на объекте - [Тамсир и.1]");

  Sink direct;
  DecodeDiallerMessage(0x21, direct.protocol);
  EXPECT_EQ(Lines(lines.begin() + 6, lines.end()), direct.Log());
}

TEST_F(DecodeFrameTest, LoopStateUnitGetsTheLoopLinesWithItsAddress) {
  // A guard's control message (kind 2) from 0427, with 0427 and 0428 registered.
  auto Register = [](ObjectRegistry& objects) {
    const char* addresses[] = {"0427", "0428"};
    for (int slot : {1, 2}) {
      ObjectRecord& r = objects.Table()[slot];
      std::strcpy(r.szAddress, addresses[slot - 1]);
      r.bUsed = 1;
      r.bControl = 1;
      r.nPeriod = 60;
      r.nTimeCounter = 45;
    }
  };
  Register(sink.objects);
  Lines lines = Decoded(WithSum("04 27 0A 23 C3 38 00 00"));
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[3], "     Адрес объекта:      [0427]");
  EXPECT_EQ(lines[4], "     Тип прибора на объекте - [ОРН]");
  Lines tail(lines.begin() + 5, lines.end());
  Sink direct;
  Register(direct.objects);
  DecodeLoopState(0x23, 0xC3, 0x38, "0427", direct.protocol, direct.objects);
  EXPECT_EQ(tail, direct.Log());
  EXPECT_EQ(std::memcmp(sink.objects.Table().data(), direct.objects.Table().data(), kObjectsFileSize), 0);
  for (const std::string& line : tail) EXPECT_EQ(line.find("Код раздела"), std::string::npos);
}

TEST_F(DecodeFrameTest, ContactIdRadioAndDiallerFramesLeaveTheObjectsAlone) {
  for (const char* data : {"12 34 1F 01 13 00 01 00", "12 34 11 01 10 85 01 31", "00 2A 16 06 00 00 00 00"}) {
    SCOPED_TRACE(data);
    Sink fresh;
    std::vector<std::uint8_t> frame = Hex(WithSum(data));
    ASSERT_EQ(DecodeFrame(frame.data(), fresh.protocol, fresh.op, fresh.objects), 0);
    EXPECT_EQ(fresh.fs.replaceCount, 0);
    EXPECT_TRUE(fresh.op.refreshes.empty());
  }
}

TEST_F(DecodeFrameTest, NibblesAboveNineShowAsHexLetters) {
  // Address AB CD, partition F0, code 3A0, zone EFF.
  Lines lines = Decoded(WithSum("AB CD 3F F0 3A 0E FF 00"));
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[3], "     Адрес объекта:      [ABCD]");
  EXPECT_EQ(lines[5], "    [3A0.нов]");
  // Not 400 (3*100 + 10*10): a code with a letter has no number at all.
  EXPECT_EQ(lines[6], "[Нераспознанное сообщение]");
  EXPECT_EQ(lines[7], "    Код раздела:           [F0]");
  EXPECT_EQ(lines[8], "    Номер зоны/пользователя:     [EFF]");
}

TEST_F(DecodeFrameTest, ALetterInAnyCodeDigitGivesTheFallback) {
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
    Sink fresh;
    std::vector<std::uint8_t> frame = Hex(WithSum(c.data));
    ASSERT_EQ(DecodeFrame(frame.data(), fresh.protocol, fresh.op, fresh.objects), 0);
    Lines lines = fresh.Log();
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[5], c.code);
    EXPECT_EQ(lines[6], "[Нераспознанное сообщение : восстановление]");
  }
  Lines valid = Decoded(WithSum("00 01 1F 01 13 0A 01 00"));
  EXPECT_EQ(valid[6], "[Восстановление охранной тревоги]");
  EXPECT_EQ(valid[8], "    Номер зоны/пользователя:     [A01]");
}

TEST_F(DecodeFrameTest, ProtocolFileGetsWindows1251LinesWithCrLf) {
  Lines lines = Decoded("12 34 1F 01 13 00 01 00 00 7A");
  std::string expected;
  for (const std::string& line : lines) expected += Cp(line) + "\r\n";
  EXPECT_EQ(sink.fs.Text("protocol.txt"), expected);
  // Spot checks on the bytes themselves: "С" of the header is 0xD1, the
  // quoted name keeps its ASCII quotes.
  const std::string file = sink.fs.Text("protocol.txt");
  EXPECT_EQ(file.substr(0, 3), " \r\n");
  EXPECT_EQ(file.substr(3, 23), "06:12:2026, 08:47:42   ");
  EXPECT_EQ(static_cast<unsigned char>(file[26]), 0xD1u);
  EXPECT_NE(file.find("[\"Contact-ID\"]\r\n"), std::string::npos);
}

TEST_F(DecodeFrameTest, ARepeatedFrameIsWrittenAgain) {
  Lines once = Decoded("12 34 1F 01 13 00 01 00 00 7A");
  sink.clock.AdvanceSeconds(1);
  Lines twice = Decoded("12 34 1F 01 13 00 01 00 00 7A");
  ASSERT_EQ(twice.size(), 2 * once.size());
  EXPECT_EQ(twice[once.size() + 1], "06:12:2026, 08:47:43   Сообщение : ");
  EXPECT_EQ(Lines(twice.begin() + once.size() + 2, twice.end()), Lines(once.begin() + 2, once.end()));
}

}  // namespace
}  // namespace pelvaron
