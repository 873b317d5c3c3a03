#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "alarms/priority_table.h"
#include "core/result.h"
#include "reports/report_data.h"

namespace pelvaron {

// What a report is made of, read from a station's folder: events.sqlite and,
// when it is there, station.sqlite (the thresholds). Read only, each store
// by a reading connection of its own in one snapshot: a running console
// goes on writing meanwhile and never waits.
struct ReportQuery {
  std::int64_t from = 0, to = 0;  // calendar seconds, both inclusive
  std::string address;            // one object ("12" also finds "0012"); empty: all
  std::string eventStore;         // the events' store
  std::string stationStore;       // empty: station.sqlite beside the events' store
  // How far before `from` an alarm still open at the start is looked for,
  // as far as the console looks back at its start: it holds the repeats of
  // its key that come in the range.
  int lookbackDays = 30;
};

struct ReportLoad {
  ReportData data;
  // The object's address as the store keeps it ("0012" for "12"), or as
  // asked when it has no events.
  std::string address;
  // What the report was made without, in the operator's words: "пороги по
  // умолчанию: хранилище станции ... не читается".
  std::vector<std::string> notes;
};

// The alarms raised in the range (as the queue held them: repeats of an open
// alarm folded into it; only priorities that wait for acknowledgement) with
// their acknowledgement, actions and close also when those came after the
// range; the link's, the line's and the objects' overdue intervals and the
// operators' time at work, clipped to the range (the console's stop ends
// them: nothing is known while it is off); and, for one object, its
// openings and closings (Contact ID 400-409).
Result<ReportLoad> LoadReportData(const ReportQuery& query, const PriorityTable& table);

}  // namespace pelvaron
