#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "station/station_store.h"
#include "store/store_support.h"

namespace pelvaron::testing {

// A station's folder of its own for each test, removed after it; path is
// its station.sqlite.
class StationFolder : public StoreFolder {
 protected:
  void SetUp() override {
    StoreFolder::SetUp();
    path = folder + "/station.sqlite";
  }

  std::vector<ResponsePlan> PlansIn(StationStore& store) {
    Result<std::vector<ResponsePlan>> plans = store.Plans();
    EXPECT_TRUE(plans) << plans.problem().Told();
    return plans ? *plans : std::vector<ResponsePlan>{};
  }
};

}  // namespace pelvaron::testing
