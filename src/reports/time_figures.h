#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pelvaron {

// How long alarms waited, as stations are judged: the median, the 80th and
// the 98.5th percentile and the longest, by nearest rank (each is one of the
// times measured, never a value between two).
struct TimeFigures {
  std::size_t count = 0;
  // Meaningful only when count > 0.
  std::int64_t median = 0, p80 = 0, p98_5 = 0, max = 0;
};

// The smallest of the sorted values with at least perMille thousandths of
// them at or below it (rank ceil(perMille * n / 1000), at least the first).
// sorted must not be empty.
std::int64_t NearestRank(const std::vector<std::int64_t>& sorted, int perMille);

TimeFigures FiguresOf(std::vector<std::int64_t> seconds);

}  // namespace pelvaron
