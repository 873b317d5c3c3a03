#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "reports/shift_report.h"

namespace pelvaron {

// The reports' two charts as inline SVG, drawn from the report alone.

// Alarms per hour, stacked by priority in the report's order: each hour of
// the range when it is three days or less, else the hours of the day
// summed over the range.
struct HourlyAlarms {
  bool byHourOfDay = false;
  std::int64_t firstHour = 0;                    // the first bar's local hour start (not by hour of day)
  std::vector<std::vector<std::size_t>> counts;  // [hour][priority in byPriority]
};
HourlyAlarms CountAlarmsPerHour(const ShiftReport& report);
void AppendAlarmsPerHourChart(std::string& out, const ShiftReport& report);

// How many alarms were acknowledged within each span of seconds, with the
// thresholds marked; the last bar holds every longer time.
struct AckDistribution {
  std::int64_t width = 1;           // seconds per bar, (k*width, (k+1)*width] for bar k, 0 in the first
  std::vector<std::size_t> counts;  // the last bar: more than the others hold
};
AckDistribution DistributeAckTimes(const ShiftReport& report);
void AppendAckDistributionChart(std::string& out, const ShiftReport& report);

}  // namespace pelvaron
