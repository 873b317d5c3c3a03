#pragma once

// Stand-in for the shared JSON writer (core/json_writer.h) and the decoded
// message's members (decode/message_json.h) until they are in the tree: the
// same names and the same output, so that the files including this one
// (events/event_json.cpp, outputs/command_sink.cpp, outputs/station_state.cpp)
// switch over by their includes alone, and this file goes. Its own namespace
// keeps it apart from the shared one at link time.

#include <cstdint>
#include <string>
#include <string_view>

#include "decode/contact_id.h"
#include "decode/decoded_message.h"
#include "decode/radio.h"

namespace pelvaron::json_stand_in {

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
  JsonWriter& Null() {
    Separate();
    out_ += "null";
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

inline void AppendFrameHex(std::string& out, const FrameBytes& frame) {
  for (std::size_t i = 0; i < frame.size(); ++i) {
    if (i > 0) out += ' ';
    out += "0123456789ABCDEF"[frame[i] >> 4u];
    out += "0123456789ABCDEF"[frame[i] & 0x0Fu];
  }
}

inline void WriteMessageMembers(JsonWriter& json, const DecodedMessage& m) {
  auto intOrNull = [&](int value) -> JsonWriter& {
    return value == -1 ? json.Null() : json.Int(value);
  };
  json.Key("kind").String(MessageKindName(m.kind));
  json.Key("sum_ok").Bool(m.sumOk);
  json.Key("sum").Int(m.sum);
  std::string raw;
  AppendFrameHex(raw, m.raw);
  json.Key("raw").String(raw);
  json.Key("address_class").String(m.addressClass == AddressClass::Binary ? "binary" : "decimal");
  if (m.sumOk) {
    json.Key("address").String(m.address.view());
    json.Key("address_number");
    intOrNull(m.addressNumber);
  }
  json.Key("device_type").Int(m.deviceType);
  if (m.sumOk) json.Key("device_name").String(m.deviceName.view());
  if (m.sumOk && m.addressClass == AddressClass::Binary) json.Key("subtype").Int(m.subtype);
  json.Key("new_event").Bool(m.newEventBit);
  if (m.kind == MessageKind::ContactId) {
    const ContactIdFields& f = m.contactId;
    json.Key("contact_id").BeginObject();
    json.Key("code").String(f.codeText.view());
    json.Key("code_number");
    intOrNull(f.code);
    json.Key("new_event").Bool(f.newEvent);
    json.Key("partition").String(f.partition.view());
    json.Key("partition_number");
    intOrNull(f.partitionNumber);
    json.Key("zone").String(f.zone.view());
    json.Key("zone_number");
    intOrNull(f.zoneNumber);
    json.Key("text").String(ContactIdEventText(f.code, f.newEvent ? 1 : 0));
    json.EndObject();
  } else if (m.kind == MessageKind::LoopState) {
    const LoopStateFields& f = m.loopState;
    json.Key("loop_state").BeginObject();
    json.Key("kind").Int(f.kind);
    json.Key("guard").Int(f.guard);
    json.Key("duress").Bool(f.duress);
    json.Key("tamper_restored").Bool(f.tamperRestored);
    json.Key("control_message").Bool(f.controlMessage);
    json.Key("loops").BeginArray();
    for (const LoopFields& loop : f.loops) {
      json.BeginObject();
      json.Key("broken").Bool(loop.broken);
      json.Key("armed").Bool(loop.armed);
      json.Key("alarm").Bool(loop.alarm);
      json.Key("loop_type").Int(loop.loopType);
      json.Key("linked").Bool(loop.linked);
      json.Key("silent_alarm").Bool(loop.silentAlarm);
      json.EndObject();
    }
    json.EndArray();
    json.EndObject();
  } else if (m.kind == MessageKind::Dialler) {
    json.Key("dialler").BeginObject();
    json.Key("byte").Int(m.dialler.byte);
    json.Key("message").Int(m.dialler.message);
    json.Key("set").Bool(m.dialler.set);
    json.Key("known").Bool(m.dialler.known);
    json.EndObject();
  } else if (m.kind == MessageKind::Radio) {
    json.Key("radio").BeginArray();
    for (std::size_t i = 0; i < m.radioCount && i < m.radio.size(); ++i) {
      const RadioRecordFields& r = m.radio[i];
      json.BeginObject();
      json.Key("event_code").Int(r.eventCode);
      json.Key("new_event").Bool(r.newEvent);
      json.Key("text").String(RadioEventText(r.eventCode, r.newEvent ? 1 : 0));
      json.Key("expander").Int(r.expander);
      json.Key("device_kind").Int(r.deviceKind);
      json.Key("device_name").String(RadioDeviceKindName(r.deviceKind));
      json.Key("source").Int(r.source);
      json.Key("upper_bank").Bool(r.upperBank);
      json.Key("detail").Int(r.detail);
      json.EndObject();
    }
    json.EndArray();
  }
  json.Key("lines").BeginArray();
  for (std::size_t i = 0; i < m.lines.size(); ++i) json.String(m.lines[i]);
  json.EndArray();
  json.Key("stamped_line");
  if (m.sumOk && DecodedMessage::kStampedLine < m.lines.size()) {
    json.Int(static_cast<std::int64_t>(DecodedMessage::kStampedLine));
  } else {
    json.Null();
  }
}

}  // namespace pelvaron::json_stand_in

namespace pelvaron {
using json_stand_in::AppendFrameHex;
using json_stand_in::AppendJsonString;
using json_stand_in::JsonWriter;
using json_stand_in::WriteMessageMembers;
}  // namespace pelvaron
