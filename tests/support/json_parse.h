#pragma once

// A strict JSON reader for checking what the program writes: the tests and
// the fuzz targets parse the output instead of comparing it as text. Header
// only and without the test framework, so that the fuzz targets can use it.
// Strict where a writer could go wrong: raw control characters in strings,
// malformed UTF-8, bad escapes, lone surrogates, duplicate keys, trailing text.
//
// ParseJson builds the value. The fuzz targets, which read an object for
// every execution, use the forms that build nothing: ForEachRawJsonMember,
// ForEachRawJsonItem and ReadJsonString.

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pelvaron::testing {

struct JsonMember;

struct JsonValue {
  enum class Type { Null, Bool, Number, String, Array, Object };

  Type type = Type::Null;
  bool boolean = false;
  std::string text;  // a string's value, or a number as written
  std::vector<JsonValue> items;
  std::vector<JsonMember> members;  // in the order written

  bool IsNull() const { return type == Type::Null; }
  bool IsInt() const { return type == Type::Number && text.find_first_of(".eE") == std::string::npos; }
  std::int64_t Int() const { return IsInt() ? std::stoll(text) : INT64_MIN; }

  // The member of that name, or nullptr.
  const JsonValue* Find(std::string_view key) const;
  // The member of that name, or null: for reading a path of members at once.
  const JsonValue& operator[](std::string_view key) const;
  std::vector<std::string> Keys() const;
};

struct JsonMember {
  std::string name;
  JsonValue value;
};

inline const JsonValue* JsonValue::Find(std::string_view key) const {
  for (const JsonMember& member : members) {
    if (member.name == key) return &member.value;
  }
  return nullptr;
}

inline const JsonValue& JsonValue::operator[](std::string_view key) const {
  static const JsonValue none;
  const JsonValue* found = Find(key);
  return found != nullptr ? *found : none;
}

inline std::vector<std::string> JsonValue::Keys() const {
  std::vector<std::string> keys;
  for (const JsonMember& member : members) keys.push_back(member.name);
  return keys;
}

namespace json_detail {

// Reads one JSON text. With a value to fill it builds it; without one it only
// checks the text and allocates nothing.
class Parser {
 public:
  explicit Parser(std::string_view s) : s_(s) {}

  bool Document(JsonValue* out) {
    SkipSpace();
    if (!Value(out, 0)) return false;
    SkipSpace();
    return pos_ == s_.size() || Fail("text after the value");
  }
  bool AtEnd() const { return pos_ == s_.size(); }
  std::string Error() const { return std::string(error_) + " at byte " + std::to_string(pos_); }

  // The raw text of the next value, checked, from where the reader stands.
  bool RawValue(std::string_view& raw) {
    SkipSpace();
    const std::size_t start = pos_;
    if (!Value(nullptr, 0)) return false;
    raw = s_.substr(start, pos_ - start);
    SkipSpace();
    return true;
  }
  // Steps into an object or array: true when its first member or item follows.
  bool Open(char bracket) {
    SkipSpace();
    if (pos_ >= s_.size() || s_[pos_] != bracket) return Fail("not an object or array");
    ++pos_;
    SkipSpace();
    return pos_ < s_.size() && s_[pos_] != (bracket == '{' ? '}' : ']');
  }
  // The end of the object or array and of the text.
  bool Close(char bracket) {
    SkipSpace();
    if (pos_ >= s_.size() || s_[pos_] != bracket) return Fail("',' or the end expected");
    ++pos_;
    SkipSpace();
    return pos_ == s_.size();
  }
  // The end of an object or array inside the text.
  bool End(char bracket) {
    SkipSpace();
    if (pos_ >= s_.size() || s_[pos_] != bracket) return Fail("',' or the end expected");
    ++pos_;
    return true;
  }
  // A string value, checked and appended to out (when given) in one pass.
  bool StringValue(std::string* out) {
    SkipSpace();
    if (pos_ >= s_.size() || s_[pos_] != '"') return Fail("string expected");
    return String(out);
  }
  // After a member or item: true when another follows.
  bool Next() {
    SkipSpace();
    if (pos_ < s_.size() && s_[pos_] == ',') {
      ++pos_;
      return true;
    }
    return false;
  }
  bool Key(std::string_view& raw) {
    SkipSpace();
    const std::size_t start = pos_;
    if (pos_ >= s_.size() || s_[pos_] != '"' || !String(nullptr)) return Fail("key expected");
    raw = s_.substr(start + 1, pos_ - start - 2);
    SkipSpace();
    if (pos_ >= s_.size() || s_[pos_] != ':') return Fail("':' expected");
    ++pos_;
    return true;
  }
  bool String(std::string* out) {
    ++pos_;  // the opening quote
    for (;;) {
      // A run of characters that stand for themselves, copied at once.
      const std::size_t run = pos_;
      while (pos_ < s_.size()) {
        // Eight bytes of plain ASCII or four Cyrillic letters at a time.
        std::uint64_t word;
        if (pos_ + sizeof word <= s_.size()) {
          std::memcpy(&word, s_.data() + pos_, sizeof word);
          if (PlainAsciiWord(word) || (word & 0xC0FEC0FEC0FEC0FEull) == 0x80D080D080D080D0ull) {
            pos_ += sizeof word;
            continue;
          }
        }
        const auto b = static_cast<unsigned char>(s_[pos_]);
        if (b >= 0x20 && b < 0x80 && b != '"' && b != '\\') {
          ++pos_;
          continue;
        }
        if (b < 0x80) break;
        // D0 80..D1 BF, the Cyrillic letters most texts are made of.
        if ((b & 0xFE) == 0xD0 && pos_ + 1 < s_.size() &&
            (static_cast<unsigned char>(s_[pos_ + 1]) & 0xC0) == 0x80) {
          pos_ += 2;
          continue;
        }
        const std::size_t len = CharacterLength();
        if (len == 0) return Fail("malformed UTF-8");
        pos_ += len;
      }
      if (out != nullptr) out->append(s_.data() + run, pos_ - run);
      if (pos_ >= s_.size()) return Fail("unterminated string");
      const auto c = static_cast<unsigned char>(s_[pos_]);
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c < 0x20) return Fail("raw control character in a string");
      if (++pos_ >= s_.size()) return Fail("unterminated escape");
      const char e = s_[pos_++];
      std::uint32_t cp = 0;
      switch (e) {
        case '"':
        case '\\':
        case '/':
          cp = static_cast<std::uint32_t>(e);
          break;
        case 'b':
          cp = '\b';
          break;
        case 'f':
          cp = '\f';
          break;
        case 'n':
          cp = '\n';
          break;
        case 'r':
          cp = '\r';
          break;
        case 't':
          cp = '\t';
          break;
        case 'u': {
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
          break;
        }
        default:
          return Fail("unknown escape");
      }
      if (out != nullptr) AppendUtf8(*out, cp);
    }
  }

 private:
  static constexpr int kMaxDepth = 64;
  // Keys checked for duplicates in an object that is only checked.
  static constexpr std::size_t kKeysChecked = 32;

  // Equal texts, compared here rather than by memcmp: under the fuzzers
  // every memcmp call is intercepted and recorded, and an object's keys are
  // compared with each other for every object read.
  static bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (a[i] != b[i]) return false;
    }
    return true;
  }

  // Eight bytes that stand for themselves in a string: ASCII, no control
  // character, quote or backslash among them.
  static bool PlainAsciiWord(std::uint64_t w) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    auto hasZero = [](std::uint64_t v) { return ((v - kOnes) & ~v & kHigh) != 0; };
    if ((w & kHigh) != 0 || ((w - 0x20 * kOnes) & kHigh) != 0) return false;
    return !hasZero(w ^ ('"' * kOnes)) && !hasZero(w ^ ('\\' * kOnes));
  }

  bool Fail(const char* why) {
    if (error_ == nullptr) error_ = why;
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

  bool Value(JsonValue* out, int depth) {
    if (depth > kMaxDepth) return Fail("nested too deep");
    if (pos_ >= s_.size()) return Fail("value expected");
    switch (s_[pos_]) {
      case '{':
        return Object(out, depth);
      case '[':
        return Array(out, depth);
      case '"':
        if (out != nullptr) out->type = JsonValue::Type::String;
        return String(out != nullptr ? &out->text : nullptr);
      case 't':
        if (out != nullptr) {
          out->type = JsonValue::Type::Bool;
          out->boolean = true;
        }
        return Literal("true");
      case 'f':
        if (out != nullptr) out->type = JsonValue::Type::Bool;
        return Literal("false");
      case 'n':
        return Literal("null");
      default:
        return Number(out);
    }
  }

  bool Object(JsonValue* out, int depth) {
    if (out != nullptr) out->type = JsonValue::Type::Object;
    std::array<std::string_view, kKeysChecked> keys;
    std::size_t keyCount = 0;
    ++pos_;
    SkipSpace();
    if (pos_ < s_.size() && s_[pos_] == '}') {
      ++pos_;
      return true;
    }
    for (;;) {
      SkipSpace();
      if (pos_ >= s_.size() || s_[pos_] != '"') return Fail("key expected");
      const std::size_t keyStart = pos_;
      std::string key;
      if (!String(out != nullptr ? &key : nullptr)) return false;
      if (out != nullptr) {
        if (out->Find(key) != nullptr) return Fail("duplicate key");
      } else {
        const std::string_view raw = s_.substr(keyStart, pos_ - keyStart);
        for (std::size_t i = 0; i < keyCount; ++i) {
          if (SameText(keys[i], raw)) return Fail("duplicate key");
        }
        if (keyCount < keys.size()) keys[keyCount++] = raw;
      }
      SkipSpace();
      if (pos_ >= s_.size() || s_[pos_] != ':') return Fail("':' expected");
      ++pos_;
      SkipSpace();
      if (out != nullptr) {
        out->members.push_back(JsonMember{std::move(key), {}});
        if (!Value(&out->members.back().value, depth + 1)) return false;
      } else if (!Value(nullptr, depth + 1)) {
        return false;
      }
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

  bool Array(JsonValue* out, int depth) {
    if (out != nullptr) out->type = JsonValue::Type::Array;
    ++pos_;
    SkipSpace();
    if (pos_ < s_.size() && s_[pos_] == ']') {
      ++pos_;
      return true;
    }
    for (;;) {
      SkipSpace();
      if (out != nullptr) {
        out->items.emplace_back();
        if (!Value(&out->items.back(), depth + 1)) return false;
      } else if (!Value(nullptr, depth + 1)) {
        return false;
      }
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

  bool Number(JsonValue* out) {
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
    if (out != nullptr) {
      out->type = JsonValue::Type::Number;
      out->text = std::string(s_.substr(start, pos_ - start));
    }
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

  // The length of the valid UTF-8 character at pos, 0 when it is not one.
  std::size_t CharacterLength() const {
    const auto b0 = static_cast<unsigned char>(s_[pos_]);
    if (b0 < 0x80) return 1;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      return pos_ + 1 < s_.size() && (static_cast<unsigned char>(s_[pos_ + 1]) & 0xC0) == 0x80 ? 2 : 0;
    }
    const std::size_t len = b0 >= 0xC2 && b0 <= 0xDF ? 2 : (b0 & 0xF0) == 0xE0 ? 3 : b0 >= 0xF0 && b0 <= 0xF4 ? 4 : 0;
    if (len == 0 || pos_ + len > s_.size()) return 0;
    std::uint32_t cp = len == 2 ? (b0 & 0x1Fu) : len == 3 ? (b0 & 0x0Fu) : (b0 & 0x07u);
    for (std::size_t i = 1; i < len; ++i) {
      const auto b = static_cast<unsigned char>(s_[pos_ + i]);
      if ((b & 0xC0) != 0x80) return 0;
      cp = (cp << 6) | (b & 0x3Fu);
    }
    if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
      return 0;
    return len;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
  const char* error_ = nullptr;
};

}  // namespace json_detail

// Parses one JSON text; nothing (and why, in *error) when it is not valid JSON.
inline std::optional<JsonValue> ParseJson(std::string_view text, std::string* error = nullptr) {
  json_detail::Parser parser(text);
  JsonValue value;
  if (parser.Document(&value)) return value;
  if (error != nullptr) *error = parser.Error();
  return std::nullopt;
}

// Calls each(key, value) with the text of every member of a JSON object as
// written (the key between its quotes, unescaped); false, after the members
// before the fault, when the text is not one valid object.
template <class Each>
bool ForEachRawJsonMember(std::string_view object, Each&& each) {
  json_detail::Parser parser(object);
  if (!parser.Open('{')) return parser.Close('}');
  do {
    std::string_view name;
    std::string_view value;
    if (!parser.Key(name) || !parser.RawValue(value)) return false;
    each(name, value);
  } while (parser.Next());
  return parser.Close('}');
}

// Calls each(item) with the text of every item of a JSON array as written;
// false when the text is no array.
template <class Each>
bool ForEachRawJsonItem(std::string_view array, Each&& each) {
  json_detail::Parser parser(array);
  if (!parser.Open('[')) return parser.Close(']');
  do {
    std::string_view item;
    if (!parser.RawValue(item)) return false;
    each(item);
  } while (parser.Next());
  return parser.Close(']');
}

// The value of a JSON string written as raw, appended to out; false when raw is no string.
inline bool ReadJsonString(std::string_view raw, std::string& out) {
  json_detail::Parser parser(raw);
  return !raw.empty() && raw.front() == '"' && parser.String(&out) && parser.AtEnd();
}

}  // namespace pelvaron::testing
