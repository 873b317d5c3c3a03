// The report's rows from a console's events store: what the queue's history
// keeps in the alarm column, read by the store's indexes.
#include <sqlite3.h>

#include "reports/query/report_rows.h"
#include "store/event_schema.h"
#include "store/sql_text.h"

namespace pelvaron {

namespace {

constexpr char kColumns[] = "seq, time, station, address, text, command, detail, ref, priority, alarm, alarm_key, operator";

void Assign(std::string& out, sqlite3_stmt* s, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
  out.assign(text != nullptr ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(s, column)));
}

// Into the same row each time: its strings keep their room.
void ReadRow(sqlite3_stmt* s, ReportRow& r) {
  r.seq = static_cast<std::uint64_t>(sqlite3_column_int64(s, 0));
  r.time = sqlite3_column_int64(s, 1);
  Assign(r.station, s, 2);
  Assign(r.address, s, 3);
  Assign(r.text, s, 4);
  Assign(r.command, s, 5);
  Assign(r.detail, s, 6);
  r.ref = static_cast<std::uint64_t>(sqlite3_column_int64(s, 7));
  Assign(r.priority, s, 8);
  r.role = sqlite3_column_int(s, 9);
  Assign(r.key, s, 10);
  Assign(r.operatorName, s, 11);
}

}  // namespace

Result<> EventStoreSource::LoadNamed(std::int64_t from, std::int64_t to) {
  // Every alarm an acknowledgement, an action or a close names, in the range
  // or after it: read from the index alone.
  SqlStatement s;
  int rc = PrepareOnce(store_.handle(),
                       "SELECT ref FROM events WHERE ref <> 0 AND ref >= (SELECT seq FROM events WHERE alarm <> 0"
                       " AND time >= ?1 AND time <= ?2 ORDER BY time, id LIMIT 1)",
                       -1, s);
  if (rc != SQLITE_OK) return ReportStoreFailure(store_, rc, "alarms");
  sqlite3_bind_int64(s.get(), 1, from);
  sqlite3_bind_int64(s.get(), 2, to);
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) named_.insert(static_cast<std::uint64_t>(sqlite3_column_int64(s.get(), 0)));
  if (rc != SQLITE_DONE) return ReportStoreFailure(store_, rc, "alarms");
  return {};
}

Result<> EventStoreSource::Alarms(std::int64_t from, std::int64_t to, const std::vector<std::string>& addresses,
                                  const std::vector<std::string>& waiting, const EachRow& each) {
  // In the order of the index: by time, then as stored.
  const int first = 3 + static_cast<int>(addresses.size());
  std::string sql = std::string("SELECT ") + kColumns + " FROM events WHERE alarm <> 0 AND time >= ?1 AND time <= ?2" +
                    AddressCondition(addresses, 3) + " AND (alarm >= 3";
  for (std::size_t i = 0; i < waiting.size(); ++i) {
    sql += (i == 0 ? " OR (alarm = 1 AND priority IN (?" : ", ?") + std::to_string(first + static_cast<int>(i));
  }
  sql += waiting.empty() ? ")" : ")))";
  sql += " ORDER BY time, id";
  SqlStatement s;
  int rc = PrepareOnce(store_.handle(), sql.c_str(), -1, s);
  if (rc != SQLITE_OK) return ReportStoreFailure(store_, rc, "alarms");
  sqlite3_bind_int64(s.get(), 1, from);
  sqlite3_bind_int64(s.get(), 2, to);
  BindAddresses(s.get(), addresses, 3);
  BindAddresses(s.get(), waiting, first);
  ReportRow row;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
    ReadRow(s.get(), row);
    if (!each(row)) return {};
  }
  if (rc != SQLITE_DONE) return ReportStoreFailure(store_, rc, "alarms");
  return {};
}

Result<> EventStoreSource::KeyHistory(const ReportRow& r, std::int64_t since, std::int64_t before,
                                      const EachRow& each) {
  int rc = SQLITE_OK;
  if (!before_) {
    rc = PrepareOnce(store_.handle(),
                     "SELECT alarm, priority FROM events WHERE address = ?1 AND time >= ?2 AND time < ?3"
                     " AND alarm_key = ?4 AND alarm IN (1, 5) AND station = ?5 ORDER BY time DESC, id DESC",
                     -1, before_);
    if (rc != SQLITE_OK) return ReportStoreFailure(store_, rc, "alarms");
  }
  sqlite3_stmt* b = before_.get();
  sqlite3_reset(b);
  BindText(b, 1, r.address);
  sqlite3_bind_int64(b, 2, since);
  sqlite3_bind_int64(b, 3, before);
  BindText(b, 4, r.key);
  BindText(b, 5, r.station);
  ReportRow row;
  while ((rc = sqlite3_step(b)) == SQLITE_ROW) {
    row.role = sqlite3_column_int(b, 0);
    Assign(row.priority, b, 1);
    if (!each(row)) return {};
  }
  if (rc != SQLITE_DONE) return ReportStoreFailure(store_, rc, "alarms");
  return {};
}

Result<> EventStoreSource::HandlingAfter(const std::string& station, std::uint64_t id, std::int64_t after,
                                         const EachRow& each) {
  int rc = SQLITE_OK;
  if (!later_) {
    const std::string sql = std::string("SELECT ") + kColumns +
                            " FROM events WHERE ref = ?1 AND ref <> 0 AND alarm IN (3, 4, 5) AND time > ?2 AND station = ?3"
                            " ORDER BY id";
    rc = PrepareOnce(store_.handle(), sql.c_str(), -1, later_);
    if (rc != SQLITE_OK) return ReportStoreFailure(store_, rc, "alarms");
  }
  SqlStatement& later = later_;
  sqlite3_reset(later.get());
  sqlite3_bind_int64(later.get(), 1, static_cast<sqlite3_int64>(id));
  sqlite3_bind_int64(later.get(), 2, after);
  BindText(later.get(), 3, station);
  ReportRow row;
  while ((rc = sqlite3_step(later.get())) == SQLITE_ROW) {
    ReadRow(later.get(), row);
    if (!each(row)) return {};
  }
  if (rc != SQLITE_DONE) return ReportStoreFailure(store_, rc, "alarms");
  return {};
}

Result<> EventStoreSource::States(std::int64_t to, const EachRow& each) {
  const std::string sql = std::string("SELECT time, kind, station, address, operator FROM events WHERE ") +
                          kStateEventsWhere + " AND time <= ?1 ORDER BY time, id";
  SqlStatement s;
  int rc = PrepareOnce(store_.handle(), sql.c_str(), -1, s);
  if (rc != SQLITE_OK) return ReportStoreFailure(store_, rc, "states");
  sqlite3_bind_int64(s.get(), 1, to);
  ReportRow row;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
    row.time = sqlite3_column_int64(s.get(), 0);
    Assign(row.kind, s.get(), 1);
    Assign(row.station, s.get(), 2);
    Assign(row.address, s.get(), 3);
    Assign(row.operatorName, s.get(), 4);
    if (!each(row)) return {};
  }
  if (rc != SQLITE_DONE) return ReportStoreFailure(store_, rc, "states");
  return {};
}

Result<std::vector<OpeningClosing>> EventStoreSource::Openings(std::int64_t from, std::int64_t to,
                                                               const std::vector<std::string>& addresses) {
  return ReadOpenings(store_, from, to, addresses);
}

std::string EventStoreSource::StoredAddress(const std::vector<std::string>& forms) {
  SqlStatement s;
  if (PrepareOnce(store_.handle(), "SELECT 1 FROM events WHERE address = ?1 LIMIT 1", -1, s) != SQLITE_OK) {
    return forms.front();
  }
  for (const std::string& form : forms) {
    sqlite3_reset(s.get());
    BindText(s.get(), 1, form);
    if (sqlite3_step(s.get()) == SQLITE_ROW) return form;
  }
  return forms.front();
}

std::string EventStoreSource::LastStation(std::int64_t to) {
  SqlStatement s;
  if (PrepareOnce(store_.handle(), "SELECT station FROM events WHERE time <= ?1 ORDER BY time DESC LIMIT 1", -1, s) ==
      SQLITE_OK) {
    sqlite3_bind_int64(s.get(), 1, to);
    if (sqlite3_step(s.get()) == SQLITE_ROW) return ColumnText(s.get(), 0);
  }
  return {};
}

}  // namespace pelvaron
