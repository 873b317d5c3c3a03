#pragma once

#include <string>

struct sqlite3_stmt;

namespace pelvaron {

// Text into and out of a statement as it is, any bytes; SQLite keeps a copy
// of what is bound, so the string need not outlive the call.
void BindText(sqlite3_stmt* stmt, int index, const std::string& text);
// A column's text; empty for NULL.
std::string ColumnText(sqlite3_stmt* stmt, int column);

}  // namespace pelvaron
