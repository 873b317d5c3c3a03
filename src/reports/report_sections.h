#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "reports/html_page.h"
#include "reports/shift_report.h"

namespace pelvaron {

// The parts of a report page that the shift and the object report share.
// Every figure a reader compares with the CSV or the JSON is a named figure
// (data-figure) under the JSON's name: "ack_seconds.p80", "by_priority.fire",
// "alarm.17.seconds_to_close".

// "Станция «…», с 07.12.2026 08:00:00 по 07.12.2026 20:00:00 (12 ч 00 мин 00 с)".
std::string RangeText(const ShiftReport& report);

void CountsSection(HtmlPage& page, const ShiftReport& report);
// The figures against the thresholds, and both charts.
void TimesSection(HtmlPage& page, const ShiftReport& report);
void PrioritySection(HtmlPage& page, const ShiftReport& report);
void ObjectsSection(HtmlPage& page, const ShiftReport& report);
void OutcomesSection(HtmlPage& page, const ShiftReport& report);
void OverThresholdSections(HtmlPage& page, const ShiftReport& report);
void OverdueSection(HtmlPage& page, const ShiftReport& report);
// Every alarm with its times, who handled it and how it ended; with each
// one's actions under it when asked.
void AlarmListSection(HtmlPage& page, const ShiftReport& report, bool withActions);

// From, to and how long, with who in the first column when whoHeader is given.
void IntervalRows(HtmlPage& page, const std::vector<Interval>& intervals, std::string_view whoHeader);

}  // namespace pelvaron
