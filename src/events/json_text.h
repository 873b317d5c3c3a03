#pragma once

// Stand-in for the shared JSON writer and the decoded message's members until
// they are in the tree: the same names, so that event_json.cpp switches over
// by its includes alone.

#include <cstdint>
#include <string>
#include <string_view>

#include "decode/decoded_message.h"

namespace pelvaron {

inline void AppendJsonString(std::string& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += ch;
    }
  }
  out += '"';
}

class JsonWriter {
 public:
  explicit JsonWriter(std::string& out) : out_(out) {}
  std::string& Out() { return out_; }
  JsonWriter& BeginObject() { return Open('{'); }
  JsonWriter& EndObject() { return Close('}'); }
  JsonWriter& BeginArray() { return Open('['); }
  JsonWriter& EndArray() { return Close(']'); }
  JsonWriter& Key(std::string_view key) {
    if (needComma_) out_ += ',';
    AppendJsonString(out_, key);
    out_ += ':';
    needComma_ = false;
    return *this;
  }
  JsonWriter& String(std::string_view s) {
    Separate();
    AppendJsonString(out_, s);
    return *this;
  }
  JsonWriter& Int(std::int64_t value) {
    Separate();
    out_ += std::to_string(value);
    return *this;
  }
  JsonWriter& Bool(bool value) {
    Separate();
    out_ += value ? "true" : "false";
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
  std::string& out_;
  bool needComma_ = false;
};

inline void WriteMessageMembers(JsonWriter& json, const DecodedMessage& m) {
  json.Key("kind").String(MessageKindName(m.kind));
  json.Key("sum_ok").Bool(m.sumOk);
  json.Key("address").String(m.address.view());
  json.Key("device_type").Int(m.deviceType);
  json.Key("device_name").String(m.deviceName.view());
  json.Key("lines").BeginArray();
  for (std::size_t i = 0; i < m.lines.size(); ++i) json.String(m.lines[i]);
  json.EndArray();
}

}  // namespace pelvaron

namespace pelvaron {

inline void AppendFrameHex(std::string& out, const FrameBytes& frame) {
  for (std::size_t i = 0; i < frame.size(); ++i) {
    if (i > 0) out += ' ';
    out += "0123456789ABCDEF"[frame[i] >> 4u];
    out += "0123456789ABCDEF"[frame[i] & 0x0Fu];
  }
}

}  // namespace pelvaron
