#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/scenario.h"

namespace pelvaron::sim {
namespace {

// The example scenarios shipped with the simulator must parse.
TEST(ScenarioExamplesTest, ShippedScenariosParse) {
  const auto folder = std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "sim" / "scenarios";
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() != ".scn") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    auto parsed = ParseScenario(text.str(), entry.path().filename().string());
    for (const auto& e : parsed.errors) ADD_FAILURE() << e;
    EXPECT_FALSE(parsed.scenario.steps.empty()) << entry.path();
    ++count;
  }
  EXPECT_GE(count, 3);
}

}  // namespace
}  // namespace pelvaron::sim
