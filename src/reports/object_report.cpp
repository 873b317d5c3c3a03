#include "reports/object_report.h"

#include <algorithm>

#include "reports/report_time.h"

namespace pelvaron {

ObjectReport ComputeObjectReport(const ReportData& data, const std::string& address) {
  ObjectReport r;
  r.address = address;
  r.data.from = data.from;
  r.data.to = data.to;
  r.data.station = data.station;
  r.data.thresholds = data.thresholds;
  r.data.priorities = data.priorities;
  for (const ReportAlarm& a : data.alarms) {
    if (a.address == address) r.data.alarms.push_back(a);
  }
  for (const Interval& i : data.overdue) {
    if (i.who == address) r.data.overdue.push_back(i);
  }
  for (const OpeningClosing& o : data.openings) {
    if (o.address == address && o.time >= data.from && o.time <= data.to) r.data.openings.push_back(o);
  }
  std::stable_sort(r.data.openings.begin(), r.data.openings.end(),
                   [](const OpeningClosing& a, const OpeningClosing& b) { return a.time < b.time; });
  r.summary = ComputeShiftReport(r.data);

  for (const OpeningClosing& o : r.data.openings) {
    const std::int64_t day = LocalDayStart(o.time);
    if (r.days.empty() || r.days.back().day != day) r.days.push_back({day, {}, 0, 0});
    OpeningDay& d = r.days.back();
    d.events.push_back(o);
    ++(o.opening ? d.openings : d.closings);
  }
  return r;
}

}  // namespace pelvaron
