#include "store/event_schema.h"

#include <sqlite3.h>

#include <string>

#include "store/sqlite_handles.h"

namespace pelvaron {

namespace {

constexpr char kSchema[] = R"SQL(
CREATE TABLE IF NOT EXISTS events(
  id INTEGER PRIMARY KEY,
  seq INTEGER NOT NULL,
  time INTEGER NOT NULL,
  time_text TEXT NOT NULL,
  station TEXT NOT NULL,
  kind TEXT NOT NULL,
  address TEXT NOT NULL,
  text TEXT NOT NULL,
  command TEXT NOT NULL,
  detail TEXT NOT NULL,
  ref INTEGER NOT NULL,
  priority TEXT NOT NULL,
  alarm INTEGER NOT NULL,
  alarm_key TEXT NOT NULL,
  frame BLOB,
  operator TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS events_time ON events(time);
CREATE INDEX IF NOT EXISTS events_address_time ON events(address, time);
CREATE INDEX IF NOT EXISTS events_seq ON events(seq);
CREATE INDEX IF NOT EXISTS events_ref ON events(ref) WHERE ref <> 0;
CREATE INDEX IF NOT EXISTS events_alarms ON events(time) WHERE alarm <> 0;
CREATE TABLE IF NOT EXISTS acknowledgements(
  id INTEGER PRIMARY KEY,
  ref INTEGER NOT NULL,
  time INTEGER NOT NULL,
  note TEXT NOT NULL,
  source TEXT NOT NULL,
  recorded INTEGER,
  operator TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS acknowledgements_ref ON acknowledgements(ref);
CREATE INDEX IF NOT EXISTS events_acknowledged ON events(address, alarm_key) WHERE alarm = 3;
CREATE INDEX IF NOT EXISTS acknowledgements_pending ON acknowledgements(time) WHERE recorded IS NULL;
)SQL";

// The answers given to requests from the broker, so that a request handed
// over again is answered alike and done once. Made by every opening for
// writing, with no new version: an earlier program still opens the store.
constexpr char kCommandsTable[] = R"SQL(
CREATE TABLE IF NOT EXISTS commands(
  request TEXT PRIMARY KEY,
  time INTEGER NOT NULL,
  status TEXT NOT NULL,
  reason TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS commands_time ON commands(time);
)SQL";

// A store of schema 1 learns its acknowledgements' keys.
constexpr char kKeysOfAcknowledgements[] =
    "UPDATE events SET alarm_key = COALESCE((SELECT n.alarm_key FROM events n WHERE n.seq = events.ref"
    " AND n.alarm = 1 ORDER BY n.id DESC LIMIT 1), '') WHERE alarm = 3";

// A store of schema 1 or 2 learns who did what; a table made just now has the column.
int AddOperatorColumn(sqlite3* db, const char* table) {
  SqlStatement s;
  const std::string columns = std::string("SELECT 1 FROM pragma_table_info('") + table + "') WHERE name = 'operator'";
  int rc = PrepareOnce(db, columns.c_str(), -1, s);
  if (rc != SQLITE_OK) return rc;
  rc = sqlite3_step(s.get());
  if (rc == SQLITE_ROW) return SQLITE_OK;
  if (rc != SQLITE_DONE) return rc;
  const std::string add = std::string("ALTER TABLE ") + table + " ADD COLUMN operator TEXT NOT NULL DEFAULT ''";
  return sqlite3_exec(db, add.c_str(), nullptr, nullptr, nullptr);
}

// Made by every opening for writing: a store of this version made before it
// has no such index yet.
const std::string kStateIndex =
    std::string("CREATE INDEX IF NOT EXISTS events_states ON events(time) WHERE ") + kStateEventsWhere;

}  // namespace

int UpgradeSchema(sqlite3* db, int& version) {
  version = 0;
  {
    SqlStatement s;
    int rc = PrepareOnce(db, "PRAGMA user_version", -1, s);
    if (rc == SQLITE_OK && sqlite3_step(s.get()) == SQLITE_ROW) version = sqlite3_column_int(s.get(), 0);
    if (rc == SQLITE_OK) rc = sqlite3_finalize(s.release());
    if (rc != SQLITE_OK) return rc;
  }
  int rc = SQLITE_OK;
  if (version > kSchemaVersion) return kNewerSchema;
  if (version == kSchemaVersion) {
    // Without it a report only reads more: a full disk must not keep the events out.
    sqlite3_exec(db, kStateIndex.c_str(), nullptr, nullptr, nullptr);
    // Without it the answers are kept in memory only: told when one cannot be written.
    sqlite3_exec(db, kCommandsTable, nullptr, nullptr, nullptr);
    return SQLITE_OK;
  }
  rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, kStateIndex.c_str(), nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, kCommandsTable, nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK && version == 1) rc = sqlite3_exec(db, kKeysOfAcknowledgements, nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) rc = AddOperatorColumn(db, "events");
  if (rc == SQLITE_OK) rc = AddOperatorColumn(db, "acknowledgements");
  if (rc == SQLITE_OK) {
    rc = sqlite3_exec(db, ("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str(), nullptr, nullptr,
                      nullptr);
  }
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  return rc;
}

}  // namespace pelvaron
