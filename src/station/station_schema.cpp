#include "station/station_schema.h"

#include <sqlite3.h>

#include <string>

#include "station/station_sql.h"

namespace pelvaron {
namespace {

// Phones of a key holder are one text, one phone a line: a phone never
// holds a line break.
constexpr char kSchema[] = R"SQL(
CREATE TABLE plans(
  id INTEGER PRIMARY KEY,
  address TEXT NOT NULL,
  priority TEXT NOT NULL,
  instructions TEXT NOT NULL,
  guard_group TEXT NOT NULL,
  guard_phone TEXT NOT NULL,
  UNIQUE(address, priority),
  CHECK((address = '') <> (priority = '')));
CREATE TABLE key_holders(
  plan INTEGER NOT NULL REFERENCES plans(id) ON DELETE CASCADE,
  position INTEGER NOT NULL,
  name TEXT NOT NULL,
  role TEXT NOT NULL,
  phones TEXT NOT NULL,
  PRIMARY KEY(plan, position)) WITHOUT ROWID;
CREATE TABLE operators(
  name TEXT PRIMARY KEY,
  senior INTEGER NOT NULL,
  secret_hash TEXT NOT NULL);
CREATE TABLE thresholds(
  id INTEGER PRIMARY KEY CHECK(id = 1),
  ack_seconds INTEGER NOT NULL,
  close_seconds INTEGER NOT NULL);
INSERT INTO thresholds VALUES(1, 30, 60);
)SQL";

int PragmaInt(sqlite3* db, const char* sql, int& value) {
  SqlStatement s;
  int rc = PrepareOnce(db, sql, -1, s);
  if (rc != SQLITE_OK) return rc;
  rc = sqlite3_step(s.get());
  if (rc == SQLITE_ROW) value = sqlite3_column_int(s.get(), 0);
  return rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
}

}  // namespace

int InspectStationFile(sqlite3* db, StationFileState& state, int& version) {
  int id = 0, tables = 0;
  version = 0;
  int rc = PragmaInt(db, "PRAGMA application_id", id);
  if (rc == SQLITE_OK) rc = PragmaInt(db, "PRAGMA user_version", version);
  if (rc == SQLITE_OK) rc = PragmaInt(db, "SELECT count(*) FROM sqlite_master", tables);
  if (rc != SQLITE_OK) return rc;
  if (id != kStationApplicationId) {
    state = id == 0 && tables == 0 && version == 0 ? StationFileState::Empty : StationFileState::Foreign;
  } else if (version > kStationSchemaVersion) {
    state = StationFileState::Newer;
  } else {
    state = version == kStationSchemaVersion ? StationFileState::Ours : StationFileState::Foreign;
  }
  return SQLITE_OK;
}

int CreateStationSchema(sqlite3* db) {
  SqlTransaction transaction(db);
  int rc = transaction.Begin();
  // Another program may have made them meanwhile: then there is nothing to do.
  StationFileState state = StationFileState::Empty;
  int version = 0;
  if (rc == SQLITE_OK) rc = InspectStationFile(db, state, version);
  if (rc != SQLITE_OK || state != StationFileState::Empty) return rc;
  rc = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) {
    const std::string marks = "PRAGMA application_id = " + std::to_string(kStationApplicationId) +
                              "; PRAGMA user_version = " + std::to_string(kStationSchemaVersion) + ";";
    rc = sqlite3_exec(db, marks.c_str(), nullptr, nullptr, nullptr);
  }
  if (rc == SQLITE_OK) rc = transaction.Commit();
  return rc;
}

}  // namespace pelvaron
