#pragma once

// What the program writes, read back as any consumer reads it (nlohmann-json,
// members in the order written) and strictly: nlohmann refuses malformed
// UTF-8, raw control characters in strings, bad escapes, lone surrogates and
// text after the value; a key written twice, which it would take (keeping the
// last), is refused here. Header only and without the test framework, so that
// the fuzz targets can use it too.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace pelvaron::testing {

using Json = nlohmann::ordered_json;

// Parses one JSON text; nothing (and why, in *error) when it is not valid JSON
// or an object has a key twice.
inline std::optional<Json> ParseJson(std::string_view text, std::string* error = nullptr) {
  std::vector<std::vector<std::string>> keys;  // of each object open
  std::string duplicate;
  const auto check = [&](int /*depth*/, Json::parse_event_t event, Json& parsed) {
    if (event == Json::parse_event_t::object_start) keys.emplace_back();
    if (event == Json::parse_event_t::object_end) keys.pop_back();
    if (event == Json::parse_event_t::key) {
      const std::string& key = parsed.get_ref<const std::string&>();
      std::vector<std::string>& seen = keys.back();
      if (duplicate.empty() && std::find(seen.begin(), seen.end(), key) != seen.end()) duplicate = key;
      seen.push_back(key);
    }
    return true;
  };
  try {
    Json value = Json::parse(text, check);
    if (duplicate.empty()) return value;
    if (error != nullptr) *error = "duplicate key \"" + duplicate + "\"";
  } catch (const Json::parse_error& e) {
    if (error != nullptr) *error = e.what();
  }
  return std::nullopt;
}

// An integer as written; INT64_MIN for anything else, 1.0 and 1e0 among it
// (which nlohmann's comparisons take as equal to 1).
inline std::int64_t Int(const Json& value) {
  return value.is_number_integer() ? value.get<std::int64_t>() : INT64_MIN;
}

}  // namespace pelvaron::testing
