#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelvaron {

// Writing JSON needs no third-party library: this small writer is all of it.
//
// Text is appended to a string the caller owns and reuses, so a steady stream
// of objects allocates nothing once the string has grown.

// s as a JSON string, quotes included. s is UTF-8: characters pass as they
// are, except the quote and the backslash, the control characters U+0000..U+001F
// (as \n, \t ... or \u00XX) and U+007F..U+009F (\u00XX), so the text never
// moves a terminal. A byte that is not part of valid UTF-8 becomes \ufffd.
void AppendJsonString(std::string& out, std::string_view s);

// Objects, arrays and values in the order they are written; the writer puts
// in the commas and colons. It does not check the nesting: End* must match
// Begin*, and inside an object every value follows a Key.
class JsonWriter {
 public:
  explicit JsonWriter(std::string& out) : out_(out) {}

  std::string& Out() { return out_; }

  JsonWriter& BeginObject() { return Open('{'); }
  JsonWriter& EndObject() { return Close('}'); }
  JsonWriter& BeginArray() { return Open('['); }
  JsonWriter& EndArray() { return Close(']'); }

  JsonWriter& Key(std::string_view key);

  JsonWriter& String(std::string_view s) {
    Separate();
    AppendJsonString(out_, s);
    return *this;
  }
  JsonWriter& Int(std::int64_t value);
  JsonWriter& Bool(bool value) { return Raw(value ? std::string_view("true") : std::string_view("false")); }
  JsonWriter& Null() { return Raw("null"); }
  // A number, or null for the given "none" value.
  JsonWriter& IntOrNull(std::int64_t value, std::int64_t none) { return value == none ? Null() : Int(value); }
  // A value that is JSON already, copied as it is.
  JsonWriter& Raw(std::string_view json) {
    Separate();
    out_ += json;
    return *this;
  }
  // A string that append(out) builds directly in the output, escaped
  // afterwards only where it needs it: no temporary for texts made by parts.
  template <class Append>
  JsonWriter& StringWith(Append&& append) {
    Separate();
    out_ += '"';
    const std::size_t start = out_.size();
    append(out_);
    EscapeTail(start);
    return *this;
  }

 private:
  void Separate() {
    if (needComma_) out_ += ',';
    needComma_ = true;
  }
  JsonWriter& Open(char c) {
    Separate();
    out_ += c;
    needComma_ = false;
    return *this;
  }
  JsonWriter& Close(char c) {
    out_ += c;
    needComma_ = true;
    return *this;
  }
  // Escapes the raw text from start on where it needs it and closes the quote.
  void EscapeTail(std::size_t start);

  std::string& out_;
  bool needComma_ = false;
};

}  // namespace pelvaron
