#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "station/station_store.h"

namespace pelvaron::testing {

// A station's folder of its own for each test, removed after it.
class StationFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/pelvaron-station-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    folder = name;
    path = folder + "/station.sqlite";
  }
  void TearDown() override { std::filesystem::remove_all(folder); }

  std::vector<ResponsePlan> PlansIn(StationStore& store) {
    Result<std::vector<ResponsePlan>> plans = store.Plans();
    EXPECT_TRUE(plans) << plans.problem().Told();
    return plans ? *plans : std::vector<ResponsePlan>{};
  }

  std::string folder;
  std::string path;
};

}  // namespace pelvaron::testing
