#pragma once

#include <string>

#include "reports/shift_report.h"

namespace pelvaron {

// One row per alarm of the report, for a spreadsheet: UTF-8 without a byte
// order mark, RFC 4180 (comma, CR LF, a header line), times in ISO 8601
// local time, empty where nothing was done by the range's end.
std::string ReportCsv(const ShiftReport& report);

// Who handled the alarm as the reports name them: who closed it, else who
// acknowledged it; "оператор не указан" when done by nobody known; empty
// when nothing was done.
std::string HandledBy(const AlarmTimes& alarm);
// The outcome's title, with the note after a colon when there is one.
std::string OutcomeText(const AlarmTimes& alarm);

}  // namespace pelvaron
