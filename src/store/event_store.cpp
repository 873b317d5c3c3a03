#include "store/event_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "core/create_file.h"
#include "store/event_schema.h"
#include "store/store_problem.h"
#include "store/text_search.h"

namespace pelvaron {

EventStore::~EventStore() {
  Close();
}

int EventStore::Fail(int code, const char* what, const char* problem) {
  error_ = what;
  error_ += ": ";
  // The connection's own words when they are about this failure (a rollback
  // after it may have cleared them).
  if (db_ != nullptr && (sqlite3_errcode(db_.get()) & 0xFF) == (code & 0xFF)) {
    error_ += sqlite3_errmsg(db_.get());
  } else {
    error_ += sqlite3_errstr(code);
  }
  problem_ = problem != nullptr ? problem : StoreProblemText(code, db_ != nullptr ? sqlite3_system_errno(db_.get()) : 0);
  return code;
}

int EventStore::Prepare(SqlStatement& stmt, const char* sql) {
  if (stmt) {
    sqlite3_reset(stmt.get());
    sqlite3_clear_bindings(stmt.get());
    return SQLITE_OK;
  }
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v3(db_.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
  stmt.reset(raw);
  if (rc != SQLITE_OK) return Fail(rc, "prepare");
  return SQLITE_OK;
}

int EventStore::Statement(const std::string& sql, const char* what, SqlStatement& stmt) {
  const int rc = PrepareOnce(db_.get(), sql.c_str(), static_cast<int>(sql.size()), stmt);
  return rc == SQLITE_OK ? rc : Fail(rc, what);
}

int EventStore::BusyWait(void* self, int count) {
  auto* store = static_cast<EventStore*>(self);
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const std::int64_t now = static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  if (count == 0) store->busySince_ = now;
  const std::int64_t giveUp = std::min(store->busySince_ + kBusyWaitMs, store->giveUpAt_.load());
  if (now >= giveUp) return 0;
  // Short steps: a shutdown that comes meanwhile is not kept waiting.
  sqlite3_sleep(static_cast<int>(std::min<std::int64_t>(10, giveUp - now)));
  return 1;
}

int EventStore::Open(const std::string& path, Mode mode, const char* vfs) {
  Close();
  const int flags = mode == Mode::ReadWrite ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
  if (mode == Mode::ReadWrite && vfs == nullptr && !path.empty() && path.front() != ':' && path.rfind("file:", 0) != 0) {
    // The store's file is made as every file is (SQLite gives its -wal and
    // -shm the mode of the store's own file).
    if (Result<UniqueFd> made = CreateFile(path, O_RDWR, WhenThere::OpenThroughLinks); !made) {
      const std::string problem = StoreProblemText(SQLITE_CANTOPEN, made.problem().code);
      return Fail(SQLITE_CANTOPEN, "open", problem.c_str());
    }
  }
  sqlite3* opened = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &opened, flags | SQLITE_OPEN_NOMUTEX, vfs);
  db_.reset(opened);  // also when it failed: SQLite gives a handle to close
  if (rc != SQLITE_OK) {
    Fail(rc, "open");
    Close();
    return rc;
  }
  sqlite3_extended_result_codes(db_.get(), 1);
  sqlite3_busy_handler(db_.get(), BusyWait, this);
  AddTextSearch(db_.get());
  // A small page cache: the store must not grow a station's memory.
  const char* pragmas = mode == Mode::ReadWrite ? "PRAGMA cache_size = -256;"
                                                  "PRAGMA journal_mode = WAL;"
                                                  "PRAGMA synchronous = NORMAL;"
                                                  "PRAGMA journal_size_limit = 4194304;"
                                                  "PRAGMA temp_store = MEMORY;"
                                                : "PRAGMA cache_size = -1024;";
  rc = sqlite3_exec(db_.get(), pragmas, nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK && mode == Mode::ReadWrite) rc = Schema();
  const char* problem = nullptr;
  if (rc == SQLITE_OK && mode == Mode::ReadOnly) {
    // A store that another program made must be ours.
    rc = sqlite3_exec(db_.get(), "SELECT id FROM events LIMIT 0", nullptr, nullptr, nullptr);
    if (rc == SQLITE_ERROR) problem = "в файле нет событий консоли";
  }
  if (rc != SQLITE_OK) {
    // Schema() has said why already when the store is a newer program's.
    if (rc == kNewerSchema) {
      rc = SQLITE_ERROR;
    } else {
      Fail(rc, mode == Mode::ReadWrite ? "set up" : "read", problem);
    }
    Close();
    return rc;
  }
  error_.clear();
  problem_.clear();
  return SQLITE_OK;
}

int EventStore::Schema() {
  int version = 0;
  const int rc = UpgradeSchema(db_.get(), version);
  if (rc == kNewerSchema) {
    error_ = "set up: made by a newer program (schema " + std::to_string(version) + ")";
    problem_ = "его записала более новая версия программы";
  }
  return rc;
}

void EventStore::Close() {
  for (SqlStatement* kept : {&insert_, &markAck_, &pending_, &dataVersion_, &holds_}) kept->reset();
  db_.reset();
}

int EventStore::DataVersion(std::int64_t& version) {
  int rc = Prepare(dataVersion_, "PRAGMA data_version");
  if (rc != SQLITE_OK) return rc;
  rc = sqlite3_step(dataVersion_.get());
  if (rc == SQLITE_ROW) version = sqlite3_column_int64(dataVersion_.get(), 0);
  sqlite3_reset(dataVersion_.get());
  return rc == SQLITE_ROW ? SQLITE_OK : Fail(rc, "data version");
}

}  // namespace pelvaron
