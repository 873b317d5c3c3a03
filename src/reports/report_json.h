#pragma once

#include <string>

#include "reports/object_report.h"
#include "reports/shift_report.h"

namespace pelvaron {

// The reports' figures and counts as one JSON object (UTF-8, one line and a
// line end): "ack_seconds" and "close_seconds" with "count", "median",
// "p80", "p98_5", "max" (null when nothing was measured), the thresholds,
// and the counts by priority, object, outcome and state.
std::string ShiftReportJson(const ShiftReport& report);
std::string ObjectReportJson(const ObjectReport& report);

}  // namespace pelvaron
