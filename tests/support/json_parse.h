#pragma once

// A strict JSON reader for checking what the program writes: the tests and
// the fuzz targets parse the output instead of comparing it as text. Header
// only and without the test framework, so that the fuzz targets can use it.
// Strict where a writer could go wrong: raw control characters in strings,
// malformed UTF-8, bad escapes, lone surrogates, duplicate keys, trailing text.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pelvaron::testing {

struct JsonValue {
  enum class Type { Null, Bool, Number, String, Array, Object };

  Type type = Type::Null;
  bool boolean = false;
  std::string text;  // a string's value, or a number as written
  std::vector<JsonValue> items;
  std::vector<std::pair<std::string, JsonValue>> members;  // in the order written

  bool IsNull() const { return type == Type::Null; }
  bool IsInt() const {
    return type == Type::Number && text.find_first_of(".eE") == std::string::npos;
  }
  std::int64_t Int() const { return IsInt() ? std::stoll(text) : INT64_MIN; }

  // The member of that name, or nullptr.
  const JsonValue* Find(std::string_view key) const {
    for (const auto& [name, value] : members) {
      if (name == key) return &value;
    }
    return nullptr;
  }
  std::vector<std::string> Keys() const {
    std::vector<std::string> keys;
    for (const auto& member : members) keys.push_back(member.first);
    return keys;
  }
};

namespace json_detail {

class Parser {
 public:
  explicit Parser(std::string_view s) : s_(s) {}

  std::optional<JsonValue> Document(std::string* error) {
    JsonValue value;
    SkipSpace();
    if (Value(value, 0)) {
      SkipSpace();
      if (pos_ == s_.size()) return value;
      Fail("text after the value");
    }
    if (error != nullptr) *error = error_ + " at byte " + std::to_string(pos_);
    return std::nullopt;
  }

 private:
  static constexpr int kMaxDepth = 64;

  bool Fail(const char* why) {
    if (error_.empty()) error_ = why;
    return false;
  }
  void SkipSpace() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
      ++pos_;
  }
  bool Literal(std::string_view word) {
    if (s_.substr(pos_, word.size()) != word) return Fail("unknown literal");
    pos_ += word.size();
    return true;
  }

  bool Value(JsonValue& out, int depth) {
    if (depth > kMaxDepth) return Fail("nested too deep");
    if (pos_ >= s_.size()) return Fail("value expected");
    switch (s_[pos_]) {
      case '{':
        return Object(out, depth);
      case '[':
        return Array(out, depth);
      case '"':
        out.type = JsonValue::Type::String;
        return String(out.text);
      case 't':
        out.type = JsonValue::Type::Bool;
        out.boolean = true;
        return Literal("true");
      case 'f':
        out.type = JsonValue::Type::Bool;
        return Literal("false");
      case 'n':
        return Literal("null");
      default:
        return Number(out);
    }
  }

  bool Object(JsonValue& out, int depth) {
    out.type = JsonValue::Type::Object;
    ++pos_;
    SkipSpace();
    if (pos_ < s_.size() && s_[pos_] == '}') {
      ++pos_;
      return true;
    }
    for (;;) {
      SkipSpace();
      if (pos_ >= s_.size() || s_[pos_] != '"') return Fail("key expected");
      std::string key;
      if (!String(key)) return false;
      if (out.Find(key) != nullptr) return Fail("duplicate key");
      SkipSpace();
      if (pos_ >= s_.size() || s_[pos_] != ':') return Fail("':' expected");
      ++pos_;
      SkipSpace();
      JsonValue value;
      if (!Value(value, depth + 1)) return false;
      out.members.emplace_back(std::move(key), std::move(value));
      SkipSpace();
      if (pos_ < s_.size() && s_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (pos_ < s_.size() && s_[pos_] == '}') {
        ++pos_;
        return true;
      }
      return Fail("',' or '}' expected");
    }
  }

  bool Array(JsonValue& out, int depth) {
    out.type = JsonValue::Type::Array;
    ++pos_;
    SkipSpace();
    if (pos_ < s_.size() && s_[pos_] == ']') {
      ++pos_;
      return true;
    }
    for (;;) {
      SkipSpace();
      JsonValue value;
      if (!Value(value, depth + 1)) return false;
      out.items.push_back(std::move(value));
      SkipSpace();
      if (pos_ < s_.size() && s_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (pos_ < s_.size() && s_[pos_] == ']') {
        ++pos_;
        return true;
      }
      return Fail("',' or ']' expected");
    }
  }

  bool Digits() {
    const std::size_t start = pos_;
    while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
    return pos_ > start;
  }

  bool Number(JsonValue& out) {
    const std::size_t start = pos_;
    if (s_[pos_] == '-') ++pos_;
    if (pos_ < s_.size() && s_[pos_] == '0') {
      ++pos_;
    } else if (!Digits()) {
      return Fail("value expected");
    }
    if (pos_ < s_.size() && s_[pos_] == '.') {
      ++pos_;
      if (!Digits()) return Fail("digits expected after '.'");
    }
    if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
      if (!Digits()) return Fail("digits expected in the exponent");
    }
    out.type = JsonValue::Type::Number;
    out.text = std::string(s_.substr(start, pos_ - start));
    return true;
  }

  static void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  bool Hex4(std::uint32_t& out) {
    if (pos_ + 4 > s_.size()) return Fail("four hexadecimal digits expected");
    out = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = s_[pos_++];
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
      if (digit < 0) return Fail("four hexadecimal digits expected");
      out = out * 16 + static_cast<std::uint32_t>(digit);
    }
    return true;
  }

  // One UTF-8 character copied as it stands, checked.
  bool RawCharacter(std::string& out) {
    const auto b0 = static_cast<unsigned char>(s_[pos_]);
    const std::size_t len = b0 < 0x80 ? 1 : b0 >= 0xC2 && b0 <= 0xDF ? 2 : (b0 & 0xF0) == 0xE0 ? 3 : b0 >= 0xF0 && b0 <= 0xF4 ? 4 : 0;
    if (len == 0 || pos_ + len > s_.size()) return Fail("malformed UTF-8");
    std::uint32_t cp = len == 1 ? b0 : len == 2 ? (b0 & 0x1Fu) : len == 3 ? (b0 & 0x0Fu) : (b0 & 0x07u);
    for (std::size_t i = 1; i < len; ++i) {
      const auto b = static_cast<unsigned char>(s_[pos_ + i]);
      if ((b & 0xC0) != 0x80) return Fail("malformed UTF-8");
      cp = (cp << 6) | (b & 0x3Fu);
    }
    if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
      return Fail("malformed UTF-8");
    out.append(s_.data() + pos_, len);
    pos_ += len;
    return true;
  }

  bool String(std::string& out) {
    ++pos_;  // the opening quote
    for (;;) {
      if (pos_ >= s_.size()) return Fail("unterminated string");
      const auto c = static_cast<unsigned char>(s_[pos_]);
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c < 0x20) return Fail("raw control character in a string");
      if (c != '\\') {
        if (!RawCharacter(out)) return false;
        continue;
      }
      if (++pos_ >= s_.size()) return Fail("unterminated escape");
      const char e = s_[pos_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          std::uint32_t cp = 0;
          if (!Hex4(cp)) return false;
          if (cp >= 0xDC00 && cp <= 0xDFFF) return Fail("lone low surrogate");
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            std::uint32_t low = 0;
            if (s_.substr(pos_, 2) != "\\u") return Fail("lone high surrogate");
            pos_ += 2;
            if (!Hex4(low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return Fail("lone high surrogate");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendUtf8(out, cp);
          break;
        }
        default:
          return Fail("unknown escape");
      }
    }
  }

  std::string_view s_;
  std::size_t pos_ = 0;
  std::string error_;
};

}  // namespace json_detail

// Parses one JSON text; nothing (and why, in *error) when it is not valid JSON.
inline std::optional<JsonValue> ParseJson(std::string_view text, std::string* error = nullptr) {
  return json_detail::Parser(text).Document(error);
}

}  // namespace pelvaron::testing
