#include "reports/time_figures.h"

#include <algorithm>

namespace pelvaron {

std::int64_t NearestRank(const std::vector<std::int64_t>& sorted, int perMille) {
  // In whole numbers: 98.5 % of n is rounded up without a floating point error.
  std::size_t rank = (static_cast<std::size_t>(perMille) * sorted.size() + 999) / 1000;
  rank = std::clamp<std::size_t>(rank, 1, sorted.size());
  return sorted[rank - 1];
}

TimeFigures FiguresOf(std::vector<std::int64_t> seconds) {
  TimeFigures figures;
  figures.count = seconds.size();
  if (seconds.empty()) return figures;
  std::sort(seconds.begin(), seconds.end());
  figures.median = NearestRank(seconds, 500);
  figures.p80 = NearestRank(seconds, 800);
  figures.p98_5 = NearestRank(seconds, 985);
  figures.max = seconds.back();
  return figures;
}

}  // namespace pelvaron
