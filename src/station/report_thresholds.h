#pragma once

#include <cstdint>

namespace pelvaron {

// How long an alarm may wait before it is acknowledged and before it is
// closed, as the station is judged; kept in the station's store.
struct ReportThresholds {
  std::int64_t ackSeconds = 30;
  std::int64_t closeSeconds = 60;
  bool operator==(const ReportThresholds&) const = default;
};

}  // namespace pelvaron
