#include "schema_check.h"

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace pelvaron::testing {

namespace {

bool HasType(const Json& v, const std::string& type) {
  if (type == "object") return v.is_object();
  if (type == "array") return v.is_array();
  if (type == "string") return v.is_string();
  if (type == "boolean") return v.is_boolean();
  if (type == "null") return v.is_null();
  if (type == "number") return v.is_number();
  if (type == "integer") return v.is_number_integer();
  return false;
}

// A keyword of the schema, or nullptr.
const Json* Keyword(const Json& schema, const char* name) {
  const auto it = schema.find(name);
  return it != schema.end() ? &*it : nullptr;
}

void Append(std::vector<std::string>& problems, std::vector<std::string> more) {
  for (std::string& p : more) problems.push_back(std::move(p));
}

}  // namespace

std::vector<std::string> CheckSchema(const Json& schema, const Json& value, const std::string& where) {
  std::vector<std::string> problems;
  if (const Json* type = Keyword(schema, "type")) {
    bool any = type->is_string() && HasType(value, type->get<std::string>());
    if (type->is_array()) {
      any = std::any_of(type->begin(), type->end(),
                        [&](const Json& t) { return HasType(value, t.get<std::string>()); });
    }
    if (!any) {
      problems.push_back(where + ": not of the type");
      return problems;
    }
  }
  if (const Json* options = Keyword(schema, "enum");
      options && std::find(options->begin(), options->end(), value) == options->end())
    problems.push_back(where + ": not one of the enum values");
  if (const Json* c = Keyword(schema, "const"); c && *c != value)
    problems.push_back(where + ": not the const");
  if (const Json* max = Keyword(schema, "maxLength"); max && value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    const auto characters =
        std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; });
    if (characters > max->get<std::int64_t>()) problems.push_back(where + ": longer than maxLength");
  }
  if (const Json* min = Keyword(schema, "minimum"); min && value.is_number() && value < *min)
    problems.push_back(where + ": below the minimum");
  if (const Json* pattern = Keyword(schema, "pattern"); pattern && value.is_string()) {
    const std::string p = pattern->get<std::string>();
    if (!std::regex_search(value.get<std::string>(), std::regex(p)))
      problems.push_back(where + ": does not match " + p);
  }
  const Json* properties = Keyword(schema, "properties");
  if (value.is_object()) {
    if (const Json* required = Keyword(schema, "required")) {
      for (const Json& r : *required) {
        if (!value.contains(r.get<std::string>())) problems.push_back(where + ": no " + r.get<std::string>());
      }
    }
    if (const Json* additional = Keyword(schema, "additionalProperties");
        additional && *additional == false) {
      for (const auto& member : value.items()) {
        if (!properties || !properties->contains(member.key()))
          problems.push_back(where + ": " + member.key() + " is not allowed");
      }
    }
    if (properties) {
      for (const auto& property : properties->items()) {
        if (const Json* member = Keyword(value, property.key().c_str()))
          Append(problems, CheckSchema(property.value(), *member, where + "." + property.key()));
      }
    }
  }
  if (const Json* items = Keyword(schema, "items"); items && value.is_array()) {
    for (std::size_t i = 0; i < value.size(); ++i)
      Append(problems, CheckSchema(*items, value[i], where + "[" + std::to_string(i) + "]"));
  }
  if (const Json* all = Keyword(schema, "allOf")) {
    for (const Json& part : *all) {
      const Json* condition = Keyword(part, "if");
      if (condition && !CheckSchema(*condition, value, where).empty()) continue;
      Append(problems, CheckSchema(condition ? part.at("then") : part, value, where));
    }
  }
  return problems;
}

namespace {

Json ReadSchema(const std::string& path) {
  std::ifstream in(std::string(PELVARON_SOURCE_DIR) + "/" + path);
  std::stringstream text;
  text << in.rdbuf();
  std::string error;
  std::optional<Json> parsed = ParseJson(text.str(), &error);
  if (!parsed) throw std::runtime_error(path + ": " + error);
  return *std::move(parsed);
}

}  // namespace

const Json& EventSchema() {
  static const Json schema = ReadSchema("docs/events.schema.json");
  return schema;
}

const Json& DiscoverySchema() {
  static const Json schema = ReadSchema("tests/outputs/ha_discovery.schema.json");
  return schema;
}

}  // namespace pelvaron::testing
