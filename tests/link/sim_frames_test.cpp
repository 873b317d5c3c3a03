#include <gtest/gtest.h>

#include "sim/frames.h"
#include "support/fakes.h"

namespace pelvaron::sim {
namespace {

using testing::Hex;

std::vector<std::uint8_t> V(const Frame& f) {
  return {f.begin(), f.end()};
}

// The scenario tests check each builder against known frames; these are the
// cases a scenario line cannot reach.
TEST(SimFramesTest, FieldsOutsideTheScenarioExamples) {
  EXPECT_EQ(V(ContactIdFrame({9087, 5, true, 42, 602, 315})), Hex("90 87 25 42 60 23 15 00 02 16"));
  LoopStateEvent tamper;
  tamper.kind = 1;
  tamper.silent1 = true;  // only kind 6 carries the silent alarms
  tamper.guard = 2;
  EXPECT_EQ(LoopStateFrame(tamper)[5], 0x20);
  tamper.tamperRestored = true;
  EXPECT_EQ(LoopStateFrame(tamper)[5], 0xA0);
  LoopStateEvent six = tamper;
  six.kind = 6;
  EXPECT_EQ(LoopStateFrame(six)[5], 0xA0) << "bit 7 is the silent alarm on loop 1 for kind 6";
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
