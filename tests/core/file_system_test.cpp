#include "core/file_system.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "support/fakes.h"

namespace pelvaron {
namespace {

using testing::MemoryFileSystem;

// The default reads through ReadPrefix: at most the span, nothing on failure.
TEST(FileSystem, ReadingIntoASpanGoesThroughReadPrefixByDefault) {
  MemoryFileSystem fs;
  fs.files["f"] = {1, 2, 3, 4, 5};
  std::array<std::uint8_t, 3> small{9, 9, 9};
  std::size_t n = 99;
  EXPECT_EQ(fs.ReadPrefixInto("f", small, n), 0);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(small, (std::array<std::uint8_t, 3>{1, 2, 3}));
  std::array<std::uint8_t, 7> large{9, 9, 9, 9, 9, 9, 9};
  EXPECT_EQ(fs.ReadPrefixInto("f", large, n), 0);
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(large, (std::array<std::uint8_t, 7>{1, 2, 3, 4, 5, 9, 9}));
  fs.failRead = 13;
  large.fill(8);
  EXPECT_EQ(fs.ReadPrefixInto("f", large, n), 13);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(large, (std::array<std::uint8_t, 7>{8, 8, 8, 8, 8, 8, 8}));
}

}  // namespace
}  // namespace pelvaron
