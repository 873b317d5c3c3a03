#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "alarms/priority_table.h"
#include "core/result.h"
#include "reports/report_data.h"
#include "store/event_store.h"

namespace pelvaron {

// The readers LoadReportData joins, each on the store's open connection (in
// the read transaction it holds). addresses: the forms of one object's
// address, or none for all.

// Alarms raised in [from, to], replayed from `since` on.
Result<std::vector<ReportAlarm>> ReadReportAlarms(EventStore& store, const PriorityTable& table, std::int64_t since,
                                                  std::int64_t from, std::int64_t to,
                                                  const std::vector<std::string>& addresses);

struct StateIntervals {
  std::vector<Interval> overdue, linkDown, lineDown, signedIn;
};
// The states in force at `from` and those begun up to `to`, clipped.
Result<StateIntervals> ReadStateIntervals(EventStore& store, std::int64_t from, std::int64_t to,
                                          const std::vector<std::string>& addresses);

// Contact ID 400-409 of those addresses in [from, to], read from the frames.
Result<std::vector<OpeningClosing>> ReadOpenings(EventStore& store, std::int64_t from, std::int64_t to,
                                                 const std::vector<std::string>& addresses);

// The failure of a step (what) with SQLite's code, in both words.
Problem ReportStoreFailure(EventStore& store, int rc, const char* what);

// " AND (address = ?N OR address = ?N+1)" for the forms bound from `first` on.
std::string AddressCondition(const std::vector<std::string>& addresses, int first, const char* column = "address");
void BindAddresses(sqlite3_stmt* stmt, const std::vector<std::string>& addresses, int first);

}  // namespace pelvaron
