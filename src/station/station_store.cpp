#include "station/station_store.h"

#include <fcntl.h>
#include <sqlite3.h>

#include "core/create_file.h"
#include "station/station_checks.h"
#include "station/station_schema.h"
#include "station/station_sql.h"
#include "store/store_problem.h"

namespace pelvaron {

Problem StationStore::Failed(int rc, const char* doing) const {
  sqlite3* db = db_.get();
  const bool own = db != nullptr && (sqlite3_errcode(db) & 0xFF) == (rc & 0xFF);
  return Problem{"Хранилище станции " + path_ + " " + doing + ": " +
                     StoreProblemText(rc, db != nullptr ? sqlite3_system_errno(db) : 0),
                 own ? sqlite3_errmsg(db) : sqlite3_errstr(rc), rc};
}

int StationStore::Statement(const char* sql, SqlStatement& stmt) {
  if (db_ == nullptr) return SQLITE_MISUSE;
  return PrepareOnce(db_.get(), sql, -1, stmt);
}

Result<> StationStore::Open(const std::string& path, Mode mode) {
  Close();
  path_ = path;
  const bool writing = mode == Mode::ReadWrite;
  if (writing && !path.empty() && path.front() != ':' && path.rfind("file:", 0) != 0) {
    // Made as every file of ours is, and private: SQLite gives the -wal and
    // -shm beside it the same mode.
    if (Result<UniqueFd> made = CreateFile(path, O_RDWR, WhenThere::OpenThroughLinks, FileMode::Private); !made) {
      return Problem{"Хранилище станции " + path + " не открывается: " +
                         StoreProblemText(SQLITE_CANTOPEN, made.problem().code),
                     made.problem().cause, SQLITE_CANTOPEN};
    }
  }
  sqlite3* opened = nullptr;
  const int flags = (writing ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX;
  int rc = sqlite3_open_v2(path.c_str(), &opened, flags, nullptr);
  db_.reset(opened);  // also when it failed: SQLite gives a handle to close
  if (rc == SQLITE_OK) {
    sqlite3_extended_result_codes(opened, 1);
    sqlite3_busy_timeout(opened, kBusyWaitMs);
    // FULL: a change people made and were told is saved stays saved through
    // a power cut; changes are rare.
    rc = sqlite3_exec(opened,
                      writing ? "PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL; PRAGMA foreign_keys = ON;"
                              : "PRAGMA foreign_keys = ON;",
                      nullptr, nullptr, nullptr);
  }
  StationFileState state = StationFileState::Empty;
  int version = 0;
  if (rc == SQLITE_OK) rc = InspectStationFile(opened, state, version);
  if (rc == SQLITE_OK && writing && state == StationFileState::Empty) {
    rc = CreateStationSchema(opened);
    if (rc == SQLITE_OK) rc = InspectStationFile(opened, state, version);
  }
  if (rc != SQLITE_OK) {
    Problem problem = Failed(rc, "не открывается");
    Close();
    return problem;
  }
  if (state == StationFileState::Ours) return {};
  Close();
  if (state == StationFileState::Newer) {
    return Problem{"Хранилище станции " + path + " записано более новой версией программы (схема " +
                       std::to_string(version) + ", эта версия знает схему " + std::to_string(kStationSchemaVersion) +
                       "); обновите программу",
                   {}, 0};
  }
  return Problem{"Файл " + path + " не является хранилищем станции (планов реагирования и операторов); укажите другой файл",
                 {}, 0};
}

void StationStore::Close() {
  db_.reset();
}

Result<ReportThresholds> StationStore::Thresholds() {
  SqlStatement s;
  int rc = Statement("SELECT ack_seconds, close_seconds FROM thresholds WHERE id = 1", s);
  if (rc == SQLITE_OK) rc = sqlite3_step(s.get());
  ReportThresholds t;
  if (rc == SQLITE_ROW) {
    t.ackSeconds = sqlite3_column_int64(s.get(), 0);
    t.closeSeconds = sqlite3_column_int64(s.get(), 1);
    return t;
  }
  return rc == SQLITE_DONE ? Result<ReportThresholds>(t) : Failed(rc, "не читается");
}

Result<> StationStore::SetThresholds(const ReportThresholds& thresholds) {
  if (Result<> checked = CheckThresholds(thresholds); !checked) return checked;
  SqlStatement s;
  int rc = Statement("INSERT OR REPLACE INTO thresholds VALUES(1, ?1, ?2)", s);
  if (rc == SQLITE_OK) rc = sqlite3_bind_int64(s.get(), 1, thresholds.ackSeconds);
  if (rc == SQLITE_OK) rc = sqlite3_bind_int64(s.get(), 2, thresholds.closeSeconds);
  if (rc == SQLITE_OK) rc = sqlite3_step(s.get());
  return rc == SQLITE_DONE ? Result<>() : Failed(rc, "не записывается");
}

}  // namespace pelvaron
