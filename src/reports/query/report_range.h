#pragma once

#include <cstdint>

#include "reports/report_formats.h"

namespace pelvaron {

struct ReportRange {
  std::int64_t from = 0, to = 0;  // both inclusive
};

// What a report covers when nobody says: a shift, the 12 hours up to now;
// an object, the previous calendar month (local time), to its last second.
ReportRange DefaultReportRange(ReportKind kind, std::int64_t now);

// The start of the local calendar month that time falls in.
std::int64_t LocalMonthStart(std::int64_t time);

}  // namespace pelvaron
