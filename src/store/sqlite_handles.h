#pragma once

#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace pelvaron {

// SQLite's handles that finalize and close themselves.
struct SqlStatementFinalizer {
  void operator()(sqlite3_stmt* stmt) const;
};
using SqlStatement = std::unique_ptr<sqlite3_stmt, SqlStatementFinalizer>;

struct SqlConnectionCloser {
  void operator()(sqlite3* db) const;
};
using SqlConnection = std::unique_ptr<sqlite3, SqlConnectionCloser>;

// Prepares a statement for one use into stmt (bytes -1: up to the zero):
// SQLite's code.
int PrepareOnce(sqlite3* db, const char* sql, int bytes, SqlStatement& stmt);

}  // namespace pelvaron
