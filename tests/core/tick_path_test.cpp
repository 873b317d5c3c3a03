#include "core/tick_path.h"

#include <gtest/gtest.h>

namespace pelvaron {
namespace {

// The warming is only as good as the section it reads: a link that drops or
// scatters the tick's code leaves it nothing to fetch.
TEST(TickPath, TheTicksCodeIsOneStretchOfTheProgram) {
  const TickCode code = TickPathCode();
  ASSERT_NE(code.begin, nullptr);
  const auto* warm = reinterpret_cast<const char*>(&WarmTickPath);
  EXPECT_LE(code.begin, warm);
  EXPECT_LT(warm, code.end);
  // A few kilobytes, not the program.
  EXPECT_LT(code.end - code.begin, 64 * 1024);
}

}  // namespace
}  // namespace pelvaron
