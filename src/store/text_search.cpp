#include "store/text_search.h"

#include <sqlite3.h>

#include "core/cp1251.h"

namespace pelvaron {

namespace {

void ContainsFunction(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL || sqlite3_value_type(args[1]) == SQLITE_NULL) {
    sqlite3_result_int(context, 0);
    return;
  }
  // The part is folded once per statement, not once per row.
  auto* part = static_cast<std::string*>(sqlite3_get_auxdata(context, 1));
  if (part == nullptr) {
    const auto* raw = reinterpret_cast<const char*>(sqlite3_value_text(args[1]));
    part = new std::string(FoldCase(raw ? raw : ""));
    sqlite3_set_auxdata(context, 1, part, [](void* p) { delete static_cast<std::string*>(p); });
    part = static_cast<std::string*>(sqlite3_get_auxdata(context, 1));
    if (part == nullptr) {
      sqlite3_result_error_nomem(context);
      return;
    }
  }
  const auto* raw = reinterpret_cast<const char*>(sqlite3_value_text(args[0]));
  const std::string text = FoldCase(raw ? std::string_view(raw, static_cast<std::size_t>(sqlite3_value_bytes(args[0])))
                                        : std::string_view());
  sqlite3_result_int(context, text.find(*part) != std::string::npos ? 1 : 0);
}

}  // namespace

std::string FoldCase(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t start = i;
    char32_t cp = 0;
    if (!NextUtf8CodePoint(utf8, i, cp)) {
      out.append(utf8.substr(start, i - start));  // not UTF-8: kept as it is
      continue;
    }
    if (cp >= U'A' && cp <= U'Z') {
      cp += 0x20;
    } else if (cp >= 0x410 && cp <= 0x42F) {
      cp += 0x20;
    } else if (cp == 0x401) {
      cp = 0x451;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

int AddTextSearch(sqlite3* db) {
  return sqlite3_create_function_v2(db, "pv_contains", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                    ContainsFunction, nullptr, nullptr, nullptr);
}

}  // namespace pelvaron
