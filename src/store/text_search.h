#pragma once

#include <string>
#include <string_view>

struct sqlite3;

namespace pelvaron {

// Letters of both cases as one, for the text search: Latin and Cyrillic.
std::string FoldCase(std::string_view utf8);

// pv_contains(text, part) on this connection: whether text holds part, in
// any letter case. SQLite's code.
int AddTextSearch(sqlite3* db);

}  // namespace pelvaron
