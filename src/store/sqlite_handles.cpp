#include "store/sqlite_handles.h"

#include <sqlite3.h>

namespace pelvaron {

void SqlStatementFinalizer::operator()(sqlite3_stmt* stmt) const {
  sqlite3_finalize(stmt);
}

void SqlConnectionCloser::operator()(sqlite3* db) const {
  // _v2: a statement still about is finalized before the connection goes.
  sqlite3_close_v2(db);
}

int PrepareOnce(sqlite3* db, const char* sql, int bytes, SqlStatement& stmt) {
  sqlite3_stmt* raw = nullptr;
  const int rc = sqlite3_prepare_v2(db, sql, bytes, &raw, nullptr);
  stmt.reset(raw);
  return rc;
}

}  // namespace pelvaron
