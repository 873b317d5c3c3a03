#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "events/event.h"
#include "store/event_store.h"

namespace pelvaron::testing {

// A folder of its own for each test, removed after it.
class StoreFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/pelvaron-store-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    folder = name;
    path = folder + "/events.sqlite";
  }
  void TearDown() override { std::filesystem::remove_all(folder); }

  std::string folder;
  std::string path;
};

// A stored console event of the given time, address and text.
inline Event At(std::uint64_t seq, std::int64_t time, std::string address, std::string text,
                EventKind kind = EventKind::Message) {
  Event e;
  e.seq = seq;
  e.time = time;
  e.timeText = "t" + std::to_string(time);
  e.kind = kind;
  e.address = std::move(address);
  e.text = std::move(text);
  return e;
}

}  // namespace pelvaron::testing
