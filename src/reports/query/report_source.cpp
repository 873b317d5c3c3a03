// A report's data from any source of rows: the alarms, the states and, for
// one object, its openings, each replayed the same way whatever the store.
#include "reports/query/report_source.h"

#include <algorithm>

#include "reports/query/report_rows.h"
#include "store/history_format.h"

namespace pelvaron {

namespace {

// The station's name: those of the alarms, or of the last event up to `to`.
std::string StationName(ReportSource& source, const std::vector<ReportAlarm>& alarms, std::int64_t to) {
  std::vector<std::string> names;
  for (const ReportAlarm& a : alarms) {
    if (std::find(names.begin(), names.end(), a.station) == names.end()) names.push_back(a.station);
  }
  std::string joined;
  for (const std::string& n : names) {
    if (n.empty()) continue;
    joined += (joined.empty() ? "" : ", ") + n;
  }
  if (!joined.empty()) return joined;
  return source.LastStation(to);
}

}  // namespace

Result<> FillReportData(ReportSource& source, const ReportQuery& q, const PriorityTable& table, ReportLoad& load) {
  ReportData& d = load.data;
  std::vector<std::string> forms;
  if (!q.address.empty()) {
    forms = AddressForms(q.address);
    load.address = source.StoredAddress(forms);
  }
  const std::int64_t since = q.from - static_cast<std::int64_t>(q.lookbackDays) * 86400;
  Result<std::vector<ReportAlarm>> alarms = ReadReportAlarms(source, table, since, q.from, q.to, forms);
  if (!alarms) return alarms.problem();
  d.alarms = std::move(*alarms);
  Result<StateIntervals> states = ReadStateIntervals(source, q.from, q.to, forms);
  if (!states) return states.problem();
  d.overdue = std::move(states->overdue);
  d.linkDown = std::move(states->linkDown);
  d.lineDown = std::move(states->lineDown);
  d.signedIn = std::move(states->signedIn);
  if (!forms.empty()) {
    Result<std::vector<OpeningClosing>> openings = source.Openings(q.from, q.to, forms);
    if (!openings) return openings.problem();
    d.openings = std::move(*openings);
    // "12" and "0012" are one object.
    for (ReportAlarm& a : d.alarms) a.address = load.address;
    for (Interval& i : d.overdue) i.who = load.address;
    for (OpeningClosing& o : d.openings) o.address = load.address;
  }
  d.station = StationName(source, d.alarms, q.to);
  return {};
}

}  // namespace pelvaron
