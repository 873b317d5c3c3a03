#include "schema_check.h"

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace pelvaron::testing {

namespace {

double Number(const JsonValue& v) {
  return std::stod(v.text);
}

bool HasType(const JsonValue& v, const std::string& type) {
  using T = JsonValue::Type;
  if (type == "object") return v.type == T::Object;
  if (type == "array") return v.type == T::Array;
  if (type == "string") return v.type == T::String;
  if (type == "boolean") return v.type == T::Bool;
  if (type == "null") return v.type == T::Null;
  if (type == "number") return v.type == T::Number;
  if (type == "integer") return v.IsInt();
  return false;
}

// Equality of the scalar values enum and const name.
bool Equal(const JsonValue& a, const JsonValue& b) {
  if (a.type != b.type) return false;
  switch (a.type) {
    case JsonValue::Type::Null:
      return true;
    case JsonValue::Type::Bool:
      return a.boolean == b.boolean;
    case JsonValue::Type::Number:
      return Number(a) == Number(b);
    case JsonValue::Type::String:
      return a.text == b.text;
    default:
      return false;
  }
}

void Append(std::vector<std::string>& problems, std::vector<std::string> more) {
  for (std::string& p : more) problems.push_back(std::move(p));
}

}  // namespace

std::vector<std::string> CheckSchema(const JsonValue& schema, const JsonValue& value, const std::string& where) {
  std::vector<std::string> problems;
  if (const JsonValue* type = schema.Find("type")) {
    bool any = type->type == JsonValue::Type::String && HasType(value, type->text);
    for (const JsonValue& t : type->items) any = any || HasType(value, t.text);
    if (!any) {
      problems.push_back(where + ": not of the type");
      return problems;
    }
  }
  if (const JsonValue* options = schema.Find("enum")) {
    bool found = false;
    for (const JsonValue& o : options->items) found = found || Equal(o, value);
    if (!found) problems.push_back(where + ": not one of the enum values");
  }
  if (const JsonValue* c = schema.Find("const"); c && !Equal(*c, value)) problems.push_back(where + ": not the const");
  if (const JsonValue* max = schema.Find("maxLength"); max && value.type == JsonValue::Type::String) {
    const auto characters = std::count_if(value.text.begin(), value.text.end(), [](char c) { return (c & 0xC0) != 0x80; });
    if (characters > Number(*max)) problems.push_back(where + ": longer than maxLength");
  }
  if (const JsonValue* min = schema.Find("minimum");
      min && value.type == JsonValue::Type::Number && Number(value) < Number(*min))
    problems.push_back(where + ": below the minimum");
  if (const JsonValue* pattern = schema.Find("pattern");
      pattern && value.type == JsonValue::Type::String && !std::regex_search(value.text, std::regex(pattern->text)))
    problems.push_back(where + ": does not match " + pattern->text);
  if (value.type == JsonValue::Type::Object) {
    if (const JsonValue* required = schema.Find("required")) {
      for (const JsonValue& r : required->items) {
        if (!value.Find(r.text)) problems.push_back(where + ": no " + r.text);
      }
    }
    const JsonValue* additional = schema.Find("additionalProperties");
    if (additional && additional->type == JsonValue::Type::Bool && !additional->boolean) {
      const JsonValue* properties = schema.Find("properties");
      for (const JsonMember& member : value.members) {
        if (!properties || !properties->Find(member.name)) problems.push_back(where + ": " + member.name + " is not allowed");
      }
    }
    if (const JsonValue* properties = schema.Find("properties")) {
      for (const JsonMember& property : properties->members) {
        if (const JsonValue* member = value.Find(property.name))
          Append(problems, CheckSchema(property.value, *member, where + "." + property.name));
      }
    }
  }
  if (const JsonValue* items = schema.Find("items"); items && value.type == JsonValue::Type::Array) {
    for (std::size_t i = 0; i < value.items.size(); ++i)
      Append(problems, CheckSchema(*items, value.items[i], where + "[" + std::to_string(i) + "]"));
  }
  if (const JsonValue* all = schema.Find("allOf")) {
    for (const JsonValue& part : all->items) {
      const JsonValue* condition = part.Find("if");
      if (condition && !CheckSchema(*condition, value, where).empty()) continue;
      Append(problems, CheckSchema(condition ? part["then"] : part, value, where));
    }
  }
  return problems;
}

namespace {

JsonValue ReadSchema(const std::string& path) {
  std::ifstream in(std::string(PELVARON_SOURCE_DIR) + "/" + path);
  std::stringstream text;
  text << in.rdbuf();
  std::string error;
  std::optional<JsonValue> parsed = ParseJson(text.str(), &error);
  if (!parsed) throw std::runtime_error(path + ": " + error);
  return *std::move(parsed);
}

}  // namespace

const JsonValue& EventSchema() {
  static const JsonValue schema = ReadSchema("docs/events.schema.json");
  return schema;
}

const JsonValue& DiscoverySchema() {
  static const JsonValue schema = ReadSchema("tests/outputs/ha_discovery.schema.json");
  return schema;
}

}  // namespace pelvaron::testing
