// The event store's reading: the history's search with each alarm's
// acknowledgement joined to it, the requests waiting for a console, the
// alarm queue's history and the whole store.
#include "store/event_store.h"

#include <sqlite3.h>

#include <algorithm>

#include "store/history_format.h"
#include "store/sql_text.h"

namespace pelvaron {

namespace {

constexpr char kColumns[] =
    "e.id, e.seq, e.time, e.time_text, e.station, e.kind, e.address, e.text, e.command, e.detail, e.ref, "
    "e.priority, e.alarm, e.alarm_key, e.frame, e.operator";

// An alarm's entry in the queue holds every event of its address and key
// until it is acknowledged: so the first acknowledgement of that address and
// key after an alarm event (the row named n) is the one that ended it. Stores
// of schema 1 keep no key with an acknowledgement: there only the event it
// names counts.
std::string AcknowledgementOf(const std::string& n) {
  return "COALESCE((SELECT x.id FROM events x WHERE x.alarm = 3 AND x.address = " + n + ".address AND x.alarm_key = " +
         n + ".alarm_key AND x.id > " + n + ".id ORDER BY x.id LIMIT 1), (SELECT x.id FROM events x WHERE x.ref = " +
         n + ".seq AND x.ref <> 0 AND x.alarm = 3 ORDER BY x.id LIMIT 1))";
}

// An alarm's columns and the acknowledgement's time and note: the console's
// event, or a request (pelvaron-history --ack) that no console has recorded
// yet, naming the alarm itself or made after it and naming an event of the
// same entry. The named alarm is covered whatever the clocks say: a clock set
// back must not leave the alarm the operator named unacknowledged.
std::string SelectWithAcknowledgement(const std::string& prefix) {
  return prefix + "SELECT " + kColumns +
         ", COALESCE(a.time, r.time), CASE WHEN a.id IS NOT NULL THEN a.detail ELSE r.note END FROM events e"
         " LEFT JOIN events a ON e.alarm = 1 AND a.id = " +
         AcknowledgementOf("e") +
         " LEFT JOIN acknowledgements r ON e.alarm = 1 AND a.id IS NULL AND r.id = (SELECT q.id FROM "
         "acknowledgements q WHERE q.recorded IS NULL AND (q.time >= e.time OR q.ref = e.seq) AND EXISTS (SELECT 1 "
         "FROM events n WHERE n.seq = q.ref AND n.alarm = 1 AND n.address = e.address AND n.alarm_key = e.alarm_key) "
         "ORDER BY q.id LIMIT 1)";
}

StoredEvent Row(sqlite3_stmt* s, bool withAck) {
  StoredEvent e;
  e.id = sqlite3_column_int64(s, 0);
  e.seq = static_cast<std::uint64_t>(sqlite3_column_int64(s, 1));
  e.time = sqlite3_column_int64(s, 2);
  e.timeText = ColumnText(s, 3);
  e.station = ColumnText(s, 4);
  e.kind = ColumnText(s, 5);
  e.address = ColumnText(s, 6);
  e.text = ColumnText(s, 7);
  e.command = ColumnText(s, 8);
  e.detail = ColumnText(s, 9);
  e.ref = static_cast<std::uint64_t>(sqlite3_column_int64(s, 10));
  e.cls.priority = ColumnText(s, 11);
  e.cls.role = sqlite3_column_int(s, 12);
  e.cls.key = ColumnText(s, 13);
  if (const void* blob = sqlite3_column_blob(s, 14)) {
    const auto* bytes = static_cast<const std::uint8_t*>(blob);
    e.frame.assign(bytes, bytes + sqlite3_column_bytes(s, 14));
  }
  e.operatorName = ColumnText(s, 15);
  if (withAck && sqlite3_column_type(s, 16) != SQLITE_NULL) {
    e.acknowledged = true;
    e.ackTime = sqlite3_column_int64(s, 16);
    e.ackNote = ColumnText(s, 17);
  }
  return e;
}

}  // namespace

template <class Each>
Result<> EventStore::Rows(SqlStatement stmt, const char* what, Each&& each) {
  int rc;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) each(stmt.get());
  if (rc != SQLITE_DONE) return Fail(rc, what);
  return {};
}

Result<SqlStatement> EventStore::PrepareSearch(const HistoryQuery& q, const char* prefix) {
  std::string sql = SelectWithAcknowledgement(prefix) + " WHERE 1";
  const std::vector<std::string> forms = q.address.empty() ? std::vector<std::string>{} : AddressForms(q.address);
  if (forms.size() == 1) sql += " AND e.address = :address";
  if (forms.size() == 2) sql += " AND (e.address = :address OR e.address = :padded)";
  if (q.from) sql += " AND e.time >= :from";
  if (q.to) sql += " AND e.time <= :to";
  if (!q.priority.empty()) sql += " AND e.priority = :priority";
  if (!q.text.empty()) sql += " AND (pv_contains(e.text, :text) OR pv_contains(e.detail, :text))";
  sql += " ORDER BY e.time DESC, e.id DESC";
  if (q.limit > 0) sql += " LIMIT :limit";
  Result<SqlStatement> statement = Statement(sql, "search");
  if (!statement) return statement;
  sqlite3_stmt* s = statement->get();
  auto bind = [s](const char* name) { return sqlite3_bind_parameter_index(s, name); };
  if (!forms.empty()) BindText(s, bind(":address"), forms[0]);
  if (forms.size() == 2) BindText(s, bind(":padded"), forms[1]);
  if (q.from) sqlite3_bind_int64(s, bind(":from"), *q.from);
  if (q.to) sqlite3_bind_int64(s, bind(":to"), *q.to);
  if (!q.priority.empty()) BindText(s, bind(":priority"), q.priority);
  if (!q.text.empty()) BindText(s, bind(":text"), q.text);
  if (q.limit > 0) sqlite3_bind_int64(s, bind(":limit"), static_cast<sqlite3_int64>(q.limit));
  return statement;
}

Result<std::vector<StoredEvent>> EventStore::Search(const HistoryQuery& q) {
  Result<SqlStatement> s = PrepareSearch(q, "");
  if (!s) return s.problem();
  std::vector<StoredEvent> found;
  Result<> read = Rows(std::move(*s), "search", [&](sqlite3_stmt* row) { found.push_back(Row(row, true)); });
  if (!read) return read.problem();
  return found;
}

Result<std::string> EventStore::SearchPlan(const HistoryQuery& q) {
  Result<SqlStatement> s = PrepareSearch(q, "EXPLAIN QUERY PLAN ");
  if (!s) return s.problem();
  std::string plan;
  Result<> read = Rows(std::move(*s), "search plan", [&](sqlite3_stmt* row) { plan += ColumnText(row, 3) + "\n"; });
  if (!read) return read.problem();
  return plan;
}

Result<std::optional<StoredEvent>> EventStore::FindBySeq(std::uint64_t seq) {
  const std::string sql = SelectWithAcknowledgement("") + " WHERE e.seq = ? ORDER BY e.id DESC LIMIT 1";
  Result<SqlStatement> s = Statement(sql, "find");
  if (!s) return s.problem();
  sqlite3_bind_int64(s->get(), 1, static_cast<sqlite3_int64>(seq));
  std::optional<StoredEvent> found;
  Result<> read = Rows(std::move(*s), "find", [&](sqlite3_stmt* row) { found = Row(row, true); });
  if (!read) return read.problem();
  return found;
}

Result<std::vector<PendingAcknowledgement>> EventStore::PendingAcknowledgements(std::int64_t afterId) {
  // Asked every few seconds for as long as the console runs: prepared once.
  // A request for an alarm whose entry has been acknowledged since (in the
  // window, or by a request for another of its events) is answered already.
  static const std::string sql =
      "SELECT r.id, r.ref, r.time, r.note, r.source, r.operator,"
      " (SELECT e.address FROM events e WHERE e.seq = r.ref ORDER BY e.id DESC LIMIT 1),"
      " (SELECT e.text FROM events e WHERE e.seq = r.ref ORDER BY e.id DESC LIMIT 1)"
      " FROM acknowledgements r WHERE r.id > ? AND r.recorded IS NULL"
      " AND NOT EXISTS (SELECT 1 FROM events a WHERE a.ref = r.ref AND a.ref <> 0 AND a.alarm = 3)"
      " AND NOT EXISTS (SELECT 1 FROM events n WHERE n.seq = r.ref AND n.alarm = 1 AND " +
      AcknowledgementOf("n") + " IS NOT NULL) ORDER BY r.id";
  if (Result<> prepared = Prepare(pending_, sql.c_str()); !prepared) return prepared.problem();
  sqlite3_stmt* pending = pending_.get();
  sqlite3_bind_int64(pending, 1, afterId);
  std::vector<PendingAcknowledgement> found;
  int rc;
  while ((rc = sqlite3_step(pending)) == SQLITE_ROW) {
    PendingAcknowledgement a;
    a.id = sqlite3_column_int64(pending, 0);
    a.ref = static_cast<std::uint64_t>(sqlite3_column_int64(pending, 1));
    a.time = sqlite3_column_int64(pending, 2);
    a.note = ColumnText(pending, 3);
    a.source = ColumnText(pending, 4);
    a.operatorName = ColumnText(pending, 5);
    a.address = ColumnText(pending, 6);
    a.text = ColumnText(pending, 7);
    found.push_back(std::move(a));
  }
  sqlite3_reset(pending);  // kept for the next time, holding no read
  if (rc != SQLITE_DONE) return Fail(rc, "pending acknowledgements");
  return found;
}

Result<std::vector<StoredEvent>> EventStore::AlarmHistory(std::int64_t since) {
  const std::string sql =
      std::string("SELECT ") + kColumns + " FROM events e WHERE e.alarm <> 0 AND e.time >= ? ORDER BY e.id";
  Result<SqlStatement> s = Statement(sql, "alarm history");
  if (!s) return s.problem();
  sqlite3_bind_int64(s->get(), 1, since);
  std::vector<StoredEvent> found;
  Result<> read = Rows(std::move(*s), "alarm history", [&](sqlite3_stmt* row) { found.push_back(Row(row, false)); });
  if (!read) return read.problem();
  return found;
}

Result<std::vector<StoredEvent>> EventStore::AllInOrder() {
  Result<SqlStatement> s = Statement(std::string("SELECT ") + kColumns + " FROM events e ORDER BY e.id", "read");
  if (!s) return s.problem();
  std::vector<StoredEvent> found;
  Result<> read = Rows(std::move(*s), "read", [&](sqlite3_stmt* row) { found.push_back(Row(row, false)); });
  if (!read) return read.problem();
  return found;
}

Result<std::vector<StoredEvent>> EventStore::SeqRange(std::uint64_t from, std::uint64_t to, std::size_t limit) {
  Result<SqlStatement> s = Statement(
      std::string("SELECT ") + kColumns + " FROM events e WHERE e.seq BETWEEN ? AND ? ORDER BY e.seq, e.id LIMIT ?",
      "read");
  if (!s) return s.problem();
  sqlite3_bind_int64(s->get(), 1, static_cast<sqlite3_int64>(from));
  sqlite3_bind_int64(s->get(), 2, static_cast<sqlite3_int64>(std::min<std::uint64_t>(to, INT64_MAX)));
  // A number stored twice (a copy taken in after a crash) is one event.
  sqlite3_bind_int64(s->get(), 3, static_cast<sqlite3_int64>(limit * 2));
  std::vector<StoredEvent> found;
  Result<> read = Rows(std::move(*s), "read", [&](sqlite3_stmt* row) {
    if (found.size() >= limit) return;
    StoredEvent e = Row(row, false);
    if (found.empty() || found.back().seq != e.seq) found.push_back(std::move(e));
  });
  if (!read) return read.problem();
  return found;
}

Result<std::int64_t> EventStore::Count() {
  Result<SqlStatement> s = Statement("SELECT count(*) FROM events", "count");
  if (!s) return s.problem();
  std::int64_t n = 0;
  Result<> read = Rows(std::move(*s), "count", [&](sqlite3_stmt* row) { n = sqlite3_column_int64(row, 0); });
  if (!read) return read.problem();
  return n;
}

Result<std::uint64_t> EventStore::HighestSeq() {
  Result<SqlStatement> s = Statement("SELECT max(seq) FROM events", "highest number");
  if (!s) return s.problem();
  std::uint64_t seq = 0;
  Result<> read = Rows(std::move(*s), "highest number", [&](sqlite3_stmt* row) {
    const sqlite3_int64 n = sqlite3_column_int64(row, 0);
    seq = n > 0 ? static_cast<std::uint64_t>(n) : 0;
  });
  if (!read) return read.problem();
  return seq;
}

}  // namespace pelvaron
