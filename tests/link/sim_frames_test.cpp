#include <gtest/gtest.h>

#include "sim/frames.h"
#include "support/fakes.h"

namespace pelvaron::sim {
namespace {

using testing::Hex;

std::vector<std::uint8_t> V(const Frame& f) {
  return {f.begin(), f.end()};
}

TEST(SimFramesTest, BuildersPutEveryFieldWhereTheConsoleReadsIt) {
  ContactIdEvent cid{1234, 31, false, 1, 130, 1};
  EXPECT_EQ(V(ContactIdFrame(cid)), Hex("12 34 1F 01 13 00 01 00 00 7A"));
  cid = {9087, 5, true, 42, 602, 315};
  EXPECT_EQ(V(ContactIdFrame(cid)), Hex("90 87 25 42 60 23 15 00 02 16"));

  LoopStateEvent loop;
  loop.address = 12;
  loop.kind = 2;
  loop.guard = 3;
  loop.duress = true;
  loop.armed1 = true;
  loop.linked1 = true;
  EXPECT_EQ(V(LoopStateFrame(loop)), Hex("00 12 0A 22 02 38 00 00 00 78"));
  LoopStateEvent alarm;
  alarm.address = 1;
  alarm.kind = 6;
  alarm.alarm1 = alarm.alarm2 = alarm.armed1 = alarm.armed2 = true;
  alarm.broken1 = alarm.broken2 = true;
  alarm.type1 = 1;
  alarm.type2 = 2;
  alarm.linked2 = true;
  alarm.silent1 = alarm.silent2 = true;
  EXPECT_EQ(V(LoopStateFrame(alarm)), Hex("00 01 0A 6F D9 C0 00 00 02 13"));

  EXPECT_EQ(V(DiallerFrame({4660, 0x21})), Hex("12 34 10 06 21 00 00 00 00 7D"));

  RadioEvent radio;
  radio.address = 0x1234;
  radio.eventCode = 0x10;
  radio.newEvent = true;
  radio.source = 5;
  radio.detail = 0x01;
  radio.expander = 3;
  radio.kind = 1;
  EXPECT_EQ(V(RadioFrame(radio)), Hex("12 34 10 01 10 85 01 31 01 1E"));
  radio.bank = true;
  radio.newEvent = false;
  EXPECT_EQ(V(RadioFrame(radio)).at(5), 0x45);
}

TEST(SimFramesTest, SumsAndParameterAnswer) {
  Frame f{};
  f.fill(0xFF);
  f = Seal(f);
  EXPECT_EQ(f[8], 0x07);
  EXPECT_EQ(f[9], 0xF8);  // 8 * 255 = 2040
  auto a = ParameterAnswer({0x01, 0x02, 0x03, 0x04, 0x85});
  EXPECT_EQ(std::vector<std::uint8_t>(a.begin(), a.end()), Hex("64 01 02 03 04 85 00 F3"));
  EXPECT_EQ(HexText(a.data(), 3), "64 01 02");
}

}  // namespace
}  // namespace pelvaron::sim
