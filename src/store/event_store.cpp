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

Problem EventStore::Fail(int code, const char* what) const {
  std::string cause = what;
  cause += ": ";
  // The connection's own words when they are about this failure (a rollback
  // after it may have cleared them).
  if (db_ != nullptr && (sqlite3_errcode(db_.get()) & 0xFF) == (code & 0xFF)) {
    cause += sqlite3_errmsg(db_.get());
  } else {
    cause += sqlite3_errstr(code);
  }
  const int systemError = db_ != nullptr ? sqlite3_system_errno(db_.get()) : 0;
  return Problem(StoreProblemText(code, systemError), std::move(cause), code);
}

Result<> EventStore::Prepare(SqlStatement& stmt, const char* sql) {
  if (stmt) {
    sqlite3_reset(stmt.get());
    sqlite3_clear_bindings(stmt.get());
    return {};
  }
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v3(db_.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
  stmt.reset(raw);
  if (rc != SQLITE_OK) return Fail(rc, "prepare");
  return {};
}

Result<SqlStatement> EventStore::Statement(const std::string& sql, const char* what) {
  SqlStatement stmt;
  const int rc = PrepareOnce(db_.get(), sql.c_str(), static_cast<int>(sql.size()), stmt);
  if (rc != SQLITE_OK) return Fail(rc, what);
  return stmt;
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

Result<> EventStore::Open(const std::string& path, Mode mode, const char* vfs) {
  Close();
  const int flags = mode == Mode::ReadWrite ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
  if (mode == Mode::ReadWrite && vfs == nullptr && !path.empty() && path.front() != ':' && path.rfind("file:", 0) != 0) {
    // The store's file is made as every file is (SQLite gives its -wal and
    // -shm the mode of the store's own file).
    if (Result<UniqueFd> made = CreateFile(path, O_RDWR, WhenThere::OpenThroughLinks); !made) {
      Problem failed = Fail(SQLITE_CANTOPEN, "open");
      failed.text = StoreProblemText(SQLITE_CANTOPEN, made.problem().code);
      return failed;
    }
  }
  sqlite3* opened = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &opened, flags | SQLITE_OPEN_NOMUTEX, vfs);
  db_.reset(opened);  // also when it failed: SQLite gives a handle to close
  if (rc != SQLITE_OK) {
    Problem failed = Fail(rc, "open");
    Close();
    return failed;
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
  int version = 0;
  if (rc == SQLITE_OK && mode == Mode::ReadWrite) rc = UpgradeSchema(db_.get(), version);
  if (rc == kNewerSchema) {
    Close();
    return Problem{"его записала более новая версия программы",
                   "set up: made by a newer program (schema " + std::to_string(version) + ")", SQLITE_ERROR};
  }
  const char* notOurs = nullptr;
  if (rc == SQLITE_OK && mode == Mode::ReadOnly) {
    // A store that another program made must be ours.
    rc = sqlite3_exec(db_.get(), "SELECT id FROM events LIMIT 0", nullptr, nullptr, nullptr);
    if (rc == SQLITE_ERROR) notOurs = "в файле нет событий консоли";
  }
  if (rc != SQLITE_OK) {
    Problem failed = Fail(rc, mode == Mode::ReadWrite ? "set up" : "read");
    if (notOurs != nullptr) failed.text = notOurs;
    Close();
    return failed;
  }
  return {};
}

void EventStore::Close() {
  for (SqlStatement* kept : {&insert_, &markAck_, &pending_, &dataVersion_, &holds_}) kept->reset();
  db_.reset();
}

Result<std::int64_t> EventStore::DataVersion() {
  if (Result<> prepared = Prepare(dataVersion_, "PRAGMA data_version"); !prepared) return prepared.problem();
  const int rc = sqlite3_step(dataVersion_.get());
  const std::int64_t version = rc == SQLITE_ROW ? sqlite3_column_int64(dataVersion_.get(), 0) : 0;
  sqlite3_reset(dataVersion_.get());
  if (rc != SQLITE_ROW) return Fail(rc, "data version");
  return version;
}

}  // namespace pelvaron
