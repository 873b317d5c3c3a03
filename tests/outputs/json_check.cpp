#include "json_check.h"

#include <cmath>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace pelvaron::testing {

namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  Json Value() {
    Space();
    if (pos_ >= text_.size()) Fail("unexpected end");
    const char c = text_[pos_];
    Json v;
    if (c == '{') {
      v.type = Json::Type::Object;
      ++pos_;
      Space();
      if (Peek('}')) return v;
      do {
        Space();
        std::string key = String();
        Space();
        Expect(':');
        v.keys.push_back(key);
        v.object[key] = Value();
        Space();
      } while (Take(','));
      Expect('}');
    } else if (c == '[') {
      v.type = Json::Type::Array;
      ++pos_;
      Space();
      if (Peek(']')) return v;
      do {
        v.array.push_back(Value());
        Space();
      } while (Take(','));
      Expect(']');
    } else if (c == '"') {
      v.type = Json::Type::String;
      v.string = String();
    } else if (Word("true")) {
      v.type = Json::Type::Bool;
      v.boolean = true;
    } else if (Word("false")) {
      v.type = Json::Type::Bool;
    } else if (Word("null")) {
    } else {
      v.type = Json::Type::Number;
      const std::size_t start = pos_;
      if (Take('-')) {
      }
      while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
      v.integer = true;
      if (Take('.')) {
        v.integer = false;
        while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
      }
      if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
        v.integer = false;
        ++pos_;
        if (!Take('+')) Take('-');
        while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
      }
      if (pos_ == start) Fail("unexpected character");
      v.number = std::stod(std::string(text_.substr(start, pos_ - start)));
    }
    return v;
  }

  void End() {
    Space();
    if (pos_ != text_.size()) Fail("text after the value");
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + " at " + std::to_string(pos_));
  }
  void Space() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\n' || text_[pos_] == '\r' || text_[pos_] == '\t')) ++pos_;
  }
  bool Take(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool Peek(char c) { return Take(c); }
  void Expect(char c) {
    if (!Take(c)) Fail(std::string("expected ") + c);
  }
  bool Word(std::string_view w) {
    if (text_.substr(pos_, w.size()) != w) return false;
    pos_ += w.size();
    return true;
  }
  static void PutUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  std::string String() {
    Expect('"');
    std::string s;
    while (true) {
      if (pos_ >= text_.size()) Fail("unterminated string");
      const char c = text_[pos_++];
      if (c == '"') return s;
      if (static_cast<unsigned char>(c) < 0x20) Fail("raw control character in a string");
      if (c != '\\') {
        s += c;
        continue;
      }
      if (pos_ >= text_.size()) Fail("unterminated escape");
      const char e = text_[pos_++];
      switch (e) {
        case '"': s += '"'; break;
        case '\\': s += '\\'; break;
        case '/': s += '/'; break;
        case 'b': s += '\b'; break;
        case 'f': s += '\f'; break;
        case 'n': s += '\n'; break;
        case 'r': s += '\r'; break;
        case 't': s += '\t'; break;
        case 'u': {
          if (pos_ + 4 > text_.size()) Fail("short \\u escape");
          PutUtf8(s, static_cast<unsigned>(std::stoul(std::string(text_.substr(pos_, 4)), nullptr, 16)));
          pos_ += 4;
          break;
        }
        default:
          Fail("bad escape");
      }
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

bool HasType(const Json& v, const std::string& type) {
  using T = Json::Type;
  if (type == "object") return v.type == T::Object;
  if (type == "array") return v.type == T::Array;
  if (type == "string") return v.type == T::String;
  if (type == "boolean") return v.type == T::Bool;
  if (type == "null") return v.type == T::Null;
  if (type == "number") return v.type == T::Number;
  if (type == "integer") return v.type == T::Number && v.integer;
  return false;
}

bool Equal(const Json& a, const Json& b) {
  if (a.type != b.type) return false;
  switch (a.type) {
    case Json::Type::Null: return true;
    case Json::Type::Bool: return a.boolean == b.boolean;
    case Json::Type::Number: return a.number == b.number;
    case Json::Type::String: return a.string == b.string;
    default: return false;
  }
}

}  // namespace

bool ParseJson(std::string_view text, Json& out, std::string* error) {
  try {
    Parser p(text);
    out = p.Value();
    p.End();
    return true;
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    return false;
  }
}

std::vector<std::string> CheckSchema(const Json& schema, const Json& value, const std::string& where) {
  std::vector<std::string> problems;
  if (const Json* type = schema.Find("type")) {
    bool any = type->type == Json::Type::String && HasType(value, type->string);
    for (const Json& t : type->array) any = any || HasType(value, t.string);
    if (!any) {
      problems.push_back(where + ": not of the type");
      return problems;
    }
  }
  if (const Json* options = schema.Find("enum")) {
    bool found = false;
    for (const Json& o : options->array) found = found || Equal(o, value);
    if (!found) problems.push_back(where + ": not one of the enum values");
  }
  if (const Json* c = schema.Find("const"); c && !Equal(*c, value)) problems.push_back(where + ": not the const");
  if (const Json* min = schema.Find("minimum"); min && value.type == Json::Type::Number && value.number < min->number)
    problems.push_back(where + ": below the minimum");
  if (const Json* pattern = schema.Find("pattern"); pattern && value.type == Json::Type::String &&
                                                    !std::regex_search(value.string, std::regex(pattern->string)))
    problems.push_back(where + ": does not match " + pattern->string);
  if (value.type == Json::Type::Object) {
    for (const std::string& key : value.keys) {
      if (std::count(value.keys.begin(), value.keys.end(), key) > 1) problems.push_back(where + ": duplicate " + key);
    }
    if (const Json* required = schema.Find("required")) {
      for (const Json& r : required->array) {
        if (!value.Find(r.string)) problems.push_back(where + ": no " + r.string);
      }
    }
    if (const Json* properties = schema.Find("properties")) {
      for (const auto& [key, sub] : properties->object) {
        if (const Json* member = value.Find(key)) {
          for (std::string& p : CheckSchema(sub, *member, where + "." + key)) problems.push_back(std::move(p));
        }
      }
    }
  }
  if (value.type == Json::Type::Array) {
    if (const Json* items = schema.Find("items")) {
      for (std::size_t i = 0; i < value.array.size(); ++i) {
        for (std::string& p : CheckSchema(*items, value.array[i], where + "[" + std::to_string(i) + "]"))
          problems.push_back(std::move(p));
      }
    }
  }
  if (const Json* all = schema.Find("allOf")) {
    for (const Json& part : all->array) {
      const Json* condition = part.Find("if");
      if (condition && !CheckSchema(*condition, value, where).empty()) continue;
      const Json& then = condition ? part["then"] : part;
      for (std::string& p : CheckSchema(then, value, where)) problems.push_back(std::move(p));
    }
  }
  return problems;
}

const Json& EventSchema() {
  static const Json schema = [] {
    std::ifstream in(std::string(PELVARON_SOURCE_DIR) + "/docs/events.schema.json");
    std::stringstream text;
    text << in.rdbuf();
    Json parsed;
    std::string error;
    if (!ParseJson(text.str(), parsed, &error)) throw std::runtime_error("events.schema.json: " + error);
    return parsed;
  }();
  return schema;
}

}  // namespace pelvaron::testing
