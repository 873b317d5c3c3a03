// The event store's writing: transactions, events, acknowledgement requests.
#include "store/event_store.h"

#include <sqlite3.h>

#include "store/event_schema.h"
#include "store/sql_text.h"

namespace pelvaron {

Result<> EventStore::Begin() {
  const int rc = sqlite3_exec(db_.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return Fail(rc, "begin");
  return {};
}

Result<> EventStore::Commit() {
  const int rc = sqlite3_exec(db_.get(), "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return Fail(rc, "commit");
  return {};
}

void EventStore::Rollback() {
  if (db_ != nullptr && !sqlite3_get_autocommit(db_.get())) sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

Result<> EventStore::Insert(const Event& event, const StoredClass& cls) {
  StoredEvent row;
  row.seq = event.seq;
  row.time = event.time;
  row.timeText = event.timeText;
  row.station = event.station;
  row.kind = EventKindName(event.kind);
  row.address = event.address;
  row.text = event.text;
  row.command = event.command;
  row.detail = event.detail;
  row.ref = event.ref;
  row.cls = cls;
  row.operatorName = event.operatorName;
  if (event.kind == EventKind::AlarmAcknowledged) row.cls.role = kAcknowledgementRole;
  if (event.kind == EventKind::AlarmAction) row.cls.role = kActionRole;
  if (event.kind == EventKind::AlarmClosed) row.cls.role = kCloseRole;
  if (event.message) row.frame.assign(event.message->raw.begin(), event.message->raw.end());
  return InsertStored(row);
}

Result<> EventStore::InsertStored(const StoredEvent& event) {
  Result<> prepared = Prepare(insert_,
                   "INSERT INTO events(seq, time, time_text, station, kind, address, text, command, detail, ref, "
                   "priority, alarm, alarm_key, frame, operator) VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,"
                   // An acknowledgement, an action and a close keep the key of the alarm they name.
                   "CASE WHEN ?12 IN (3,4,5) THEN COALESCE((SELECT n.alarm_key FROM events n WHERE n.seq = ?10"
                   " AND n.alarm = 1 ORDER BY n.id DESC LIMIT 1), '') ELSE ?13 END,?14,?15)");
  if (!prepared) return prepared;
  const bool ack = event.cls.role == kAcknowledgementRole;
  sqlite3_stmt* insert = insert_.get();
  sqlite3_bind_int64(insert, 1, static_cast<sqlite3_int64>(event.seq));
  sqlite3_bind_int64(insert, 2, event.time);
  BindText(insert, 3, event.timeText);
  BindText(insert, 4, event.station);
  BindText(insert, 5, event.kind);
  BindText(insert, 6, event.address);
  BindText(insert, 7, event.text);
  BindText(insert, 8, event.command);
  BindText(insert, 9, event.detail);
  sqlite3_bind_int64(insert, 10, static_cast<sqlite3_int64>(event.ref));
  BindText(insert, 11, event.cls.priority);
  sqlite3_bind_int(insert, 12, event.cls.role);
  BindText(insert, 13, event.cls.key);
  if (!event.frame.empty()) {
    sqlite3_bind_blob(insert, 14, event.frame.data(), static_cast<int>(event.frame.size()),
                      SQLITE_TRANSIENT);
  }
  BindText(insert, 15, event.operatorName);
  int rc = sqlite3_step(insert);
  sqlite3_reset(insert);
  if (rc != SQLITE_DONE) return Fail(rc, "insert");
  if (!ack) return {};
  prepared = Prepare(markAck_, "UPDATE acknowledgements SET recorded = ? WHERE ref = ? AND recorded IS NULL");
  if (!prepared) return prepared;
  sqlite3_bind_int64(markAck_.get(), 1, static_cast<sqlite3_int64>(event.seq));
  sqlite3_bind_int64(markAck_.get(), 2, static_cast<sqlite3_int64>(event.ref));
  rc = sqlite3_step(markAck_.get());
  sqlite3_reset(markAck_.get());
  if (rc != SQLITE_DONE) return Fail(rc, "mark acknowledgement");
  return {};
}

Result<std::int64_t> EventStore::RequestAcknowledgement(std::uint64_t ref, std::int64_t time, const std::string& note,
                                                        const std::string& source, const std::string& operatorName) {
  Result<SqlStatement> s =
      Statement("INSERT INTO acknowledgements(ref, time, note, source, operator) VALUES(?,?,?,?,?)", "prepare");
  if (!s) return s.problem();
  sqlite3_bind_int64(s->get(), 1, static_cast<sqlite3_int64>(ref));
  sqlite3_bind_int64(s->get(), 2, time);
  BindText(s->get(), 3, note);
  BindText(s->get(), 4, source);
  BindText(s->get(), 5, operatorName);
  const int rc = sqlite3_step(s->get());
  if (rc != SQLITE_DONE) return Fail(rc, "insert acknowledgement");
  return static_cast<std::int64_t>(sqlite3_last_insert_rowid(db_.get()));
}

Result<bool> EventStore::Holds(const StoredEvent& event) {
  if (Result<> prepared = Prepare(holds_, "SELECT 1 FROM events WHERE seq = ? AND time = ? AND kind = ?"); !prepared)
    return prepared.problem();
  sqlite3_bind_int64(holds_.get(), 1, static_cast<sqlite3_int64>(event.seq));
  sqlite3_bind_int64(holds_.get(), 2, event.time);
  BindText(holds_.get(), 3, event.kind);
  const int rc = sqlite3_step(holds_.get());
  sqlite3_reset(holds_.get());
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Fail(rc, "find");
  return rc == SQLITE_ROW;
}

}  // namespace pelvaron
