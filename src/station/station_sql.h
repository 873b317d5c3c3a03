#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

#include "store/sqlite_handles.h"

namespace pelvaron {

// A write transaction of the station's store that is rolled back unless it
// was committed: whatever fails halfway leaves the store as it was.
class SqlTransaction {
 public:
  explicit SqlTransaction(sqlite3* db) : db_(db) {}
  ~SqlTransaction() {
    if (open_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  SqlTransaction(const SqlTransaction&) = delete;
  SqlTransaction& operator=(const SqlTransaction&) = delete;

  // IMMEDIATE: another writer is waited for now, not at the first write.
  int Begin() {
    if (db_ == nullptr) return SQLITE_MISUSE;
    const int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    open_ = rc == SQLITE_OK;
    return rc;
  }
  int Commit() {
    const int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    // A failed COMMIT leaves the transaction open; the destructor ends it.
    if (rc == SQLITE_OK) open_ = false;
    return rc;
  }

 private:
  sqlite3* db_;
  bool open_ = false;
};

inline int BindText(sqlite3_stmt* stmt, int index, std::string_view text) {
  return sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

inline std::string ColumnText(sqlite3_stmt* stmt, int index) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, index));
  return text != nullptr ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, index))) : std::string();
}

}  // namespace pelvaron
