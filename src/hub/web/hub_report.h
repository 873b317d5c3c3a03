#pragma once

#include <string>

#include "alarms/priority_table.h"
#include "core/result.h"
#include "hub/web/web_db.h"
#include "reports/query/report_query.h"

namespace pelvaron {

// A shift or object report over the hub's store, replayed as a console's own
// report replays its events store. station: one console's events, or every
// console's when empty. query: the range, the object and how far back an
// open alarm is looked for (its stores unused). The hub keeps no station's
// settings: the thresholds are the defaults, and the notes say so.
Result<ReportLoad> LoadHubReport(WebDb& db, const std::string& station, const ReportQuery& query,
                                 const PriorityTable& table);

}  // namespace pelvaron
