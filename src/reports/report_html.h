#pragma once

#include <string>

#include "reports/object_report.h"
#include "reports/shift_report.h"

namespace pelvaron {

// The reports as self-contained HTML pages in Russian, printable, with their
// charts as inline SVG.
std::string ShiftReportHtml(const ShiftReport& report);
std::string ObjectReportHtml(const ObjectReport& report);

}  // namespace pelvaron
