#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "alarms/priority_table.h"
#include "core/result.h"
#include "reports/query/report_source.h"
#include "reports/report_data.h"
#include "store/event_store.h"

namespace pelvaron {

// The readers FillReportData joins, each over the report's source.
// addresses: the forms of one object's address, or none for all.

// Alarms raised in [from, to], replayed from `since` on.
Result<std::vector<ReportAlarm>> ReadReportAlarms(ReportSource& source, const PriorityTable& table, std::int64_t since,
                                                  std::int64_t from, std::int64_t to,
                                                  const std::vector<std::string>& addresses);

struct StateIntervals {
  std::vector<Interval> overdue, linkDown, lineDown, signedIn;
};
// The states in force at `from` and those begun up to `to`, clipped.
Result<StateIntervals> ReadStateIntervals(ReportSource& source, std::int64_t from, std::int64_t to,
                                          const std::vector<std::string>& addresses);

// A console's events store, on its open connection (in the read transaction
// it holds).
class EventStoreSource final : public ReportSource {
 public:
  explicit EventStoreSource(EventStore& store) : store_(store) {}
  Result<> LoadNamed(std::int64_t from, std::int64_t to) override;
  bool Named(const ReportRow& alarm) const override { return named_.count(alarm.seq) > 0; }
  Result<> Alarms(std::int64_t from, std::int64_t to, const std::vector<std::string>& addresses,
                  const std::vector<std::string>& waiting, const EachRow& each) override;
  Result<> KeyHistory(const ReportRow& alarm, std::int64_t since, std::int64_t before, const EachRow& each) override;
  Result<> HandlingAfter(const std::string& station, std::uint64_t id, std::int64_t after,
                         const EachRow& each) override;
  Result<> States(std::int64_t to, const EachRow& each) override;
  Result<std::vector<OpeningClosing>> Openings(std::int64_t from, std::int64_t to,
                                               const std::vector<std::string>& addresses) override;
  std::string StoredAddress(const std::vector<std::string>& forms) override;
  std::string LastStation(std::int64_t to) override;

 private:
  EventStore& store_;
  // The events named, by number (consoles of one store number alike).
  std::unordered_set<std::uint64_t> named_;
  SqlStatement before_, later_;  // asked once per alarm
};

// Contact ID 400-409 of those addresses in [from, to], read from the frames.
Result<std::vector<OpeningClosing>> ReadOpenings(EventStore& store, std::int64_t from, std::int64_t to,
                                                 const std::vector<std::string>& addresses);

// The failure of a step (what) with SQLite's code, in both words.
Problem ReportStoreFailure(EventStore& store, int rc, const char* what);

// " AND (address = ?N OR address = ?N+1)" for the forms bound from `first` on.
std::string AddressCondition(const std::vector<std::string>& addresses, int first, const char* column = "address");
void BindAddresses(sqlite3_stmt* stmt, const std::vector<std::string>& addresses, int first);

}  // namespace pelvaron
