#pragma once

// A small JSON reader and the part of JSON Schema that docs/events.schema.json
// uses (type, required, properties, items, enum, const, minimum, pattern,
// allOf with if/then), so that the tests read what the outputs write as any
// consumer would, without a library for it.

#include <cstdint>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

namespace pelvaron::testing {

struct Json {
  enum class Type { Null, Bool, Number, String, Array, Object } type = Type::Null;
  bool boolean = false;
  double number = 0;
  bool integer = false;
  std::string string;
  std::vector<Json> array;
  std::map<std::string, Json> object;
  std::vector<std::string> keys;  // in the order they came, duplicates included

  const Json* Find(const std::string& key) const {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &it->second;
  }
  const Json& operator[](const std::string& key) const {
    static const Json none;
    const Json* found = Find(key);
    return found ? *found : none;
  }
  std::string Str() const { return string; }
  std::int64_t Int() const { return static_cast<std::int64_t>(number); }
};

// Parses text as one JSON value and nothing else; on failure, *error says where.
bool ParseJson(std::string_view text, Json& out, std::string* error);

// What in value does not agree with schema (empty when all does).
std::vector<std::string> CheckSchema(const Json& schema, const Json& value, const std::string& where = "$");

// docs/events.schema.json, read once.
const Json& EventSchema();

}  // namespace pelvaron::testing
