#include <sqlite3.h>

#include <mutex>

#include "hub/hub_store.h"
#include "hub/web/web_db.h"
#include "store/sqlite_handles.h"

namespace pelvaron {

namespace {

class SqliteWebDb final : public WebDb {
 public:
  explicit SqliteWebDb(SqlConnection db) : db_(std::move(db)) {}

  Result<std::vector<Row>> Query(const std::string& sql, const std::vector<std::string>& params) override {
    std::lock_guard lock(mutex_);
    SqlStatement stmt;
    if (PrepareOnce(db_.get(), sql.c_str(), -1, stmt) != SQLITE_OK) return Fail();
    for (std::size_t i = 0; i < params.size(); ++i) {
      const int at = sqlite3_bind_parameter_index(stmt.get(), ("$" + std::to_string(i + 1)).c_str());
      if (at == 0) continue;
      sqlite3_bind_text(stmt.get(), at, params[i].data(), static_cast<int>(params[i].size()), SQLITE_STATIC);
    }
    std::vector<Row> rows;
    for (;;) {
      const int rc = sqlite3_step(stmt.get());
      if (rc == SQLITE_DONE) return rows;
      if (rc != SQLITE_ROW) return Fail();
      Row row;
      for (int c = 0; c < sqlite3_column_count(stmt.get()); ++c) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), c));
        row.emplace_back(text != nullptr ? text : "");
      }
      rows.push_back(std::move(row));
    }
  }

 private:
  Problem Fail() const {
    return Problem{"Не удалось обратиться к базе хаба", sqlite3_errmsg(db_.get()), sqlite3_errcode(db_.get())};
  }
  std::mutex mutex_;
  SqlConnection db_;
};

}  // namespace

Result<std::unique_ptr<WebDb>> OpenSqliteWebDb(const std::string& path) {
  sqlite3* opened = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &opened, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                                 nullptr);
  SqlConnection db(opened);
  if (rc != SQLITE_OK)
    return Problem{"Не удалось открыть базу хаба " + path, db ? sqlite3_errmsg(db.get()) : sqlite3_errstr(rc), rc};
  // The hub writes in batches; a search or a sign-in waits for one, not fails.
  sqlite3_busy_timeout(db.get(), 5000);
  return std::unique_ptr<WebDb>(new SqliteWebDb(std::move(db)));
}

Result<std::unique_ptr<WebDb>> OpenWebDb(const std::string& where) {
  if (IsPostgresUrl(where)) return OpenPostgresWebDb(where);
  return OpenSqliteWebDb(where);
}

}  // namespace pelvaron
