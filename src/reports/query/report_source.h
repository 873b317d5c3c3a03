#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "alarms/priority_table.h"
#include "core/result.h"
#include "reports/query/report_query.h"
#include "reports/report_data.h"

namespace pelvaron {

// One stored event as the reports replay it. role: the store's alarm column
// (1 alarm, 2 restore, 3 acknowledgement, 4 action, 5 close); key: the alarm's
// key, kept by its handling too.
struct ReportRow {
  std::uint64_t seq = 0;
  std::int64_t time = 0;
  std::string station, kind, address, text, command, detail, priority, key, operatorName;
  std::uint64_t ref = 0;
  int role = 0;
};

// Where a report's rows come from: a console's events store or the hub's
// store of every console. The replay is the same for both; only these
// reads differ. addresses: the forms of one object's address, or none for
// all. A callback returns false to stop the read.
class ReportSource {
 public:
  using EachRow = std::function<bool(const ReportRow&)>;
  virtual ~ReportSource() = default;

  // Learns which alarms an acknowledgement, an action or a close names, from
  // the first alarm in [from, to] on; Named answers from what it learnt.
  virtual Result<> LoadNamed(std::int64_t from, std::int64_t to) = 0;
  virtual bool Named(const ReportRow& alarm) const = 0;
  // In [from, to], by time then as stored: every handling row (3-5) and the
  // alarms (1) of the priorities named in `waiting`.
  virtual Result<> Alarms(std::int64_t from, std::int64_t to, const std::vector<std::string>& addresses,
                          const std::vector<std::string>& waiting, const EachRow& each) = 0;
  // The alarms and closes (1, 5) of the row's station, address and key in
  // [since, before), the latest first.
  virtual Result<> KeyHistory(const ReportRow& alarm, std::int64_t since, std::int64_t before,
                              const EachRow& each) = 0;
  // The handling rows (3-5) that name the alarm `id` of `station` after `after`, as stored.
  virtual Result<> HandlingAfter(const std::string& station, std::uint64_t id, std::int64_t after,
                                 const EachRow& each) = 0;
  // The rows that begin or end a state (kind, time, station, address,
  // operator) up to `to`, by time then as stored.
  virtual Result<> States(std::int64_t to, const EachRow& each) = 0;
  // Contact ID 400-409 of those addresses in [from, to].
  virtual Result<std::vector<OpeningClosing>> Openings(std::int64_t from, std::int64_t to,
                                                       const std::vector<std::string>& addresses) = 0;
  // The first of the forms the source keeps; the first form when none.
  virtual std::string StoredAddress(const std::vector<std::string>& forms) = 0;
  // The station of the last event up to `to`; empty when none.
  virtual std::string LastStation(std::int64_t to) = 0;
};

// Fills load.data (whose from, to, priorities and thresholds are set) from
// the source as LoadReportData describes.
Result<> FillReportData(ReportSource& source, const ReportQuery& query, const PriorityTable& table, ReportLoad& load);

}  // namespace pelvaron
