#include "decode/message_json.h"

#include "decode/contact_id.h"
#include "decode/radio.h"

namespace pelvaron {

namespace {

void WriteContactId(JsonWriter& json, const ContactIdFields& f) {
  json.Key("contact_id").BeginObject();
  json.Key("code").String(f.codeText.view());
  json.Key("code_number").IntOrNull(f.code, -1);
  json.Key("new_event").Bool(f.newEvent);
  json.Key("partition").String(f.partition.view());
  json.Key("partition_number").IntOrNull(f.partitionNumber, -1);
  json.Key("zone").String(f.zone.view());
  json.Key("zone_number").IntOrNull(f.zoneNumber, -1);
  json.Key("text").String(ContactIdEventText(f.code, f.newEvent ? 1 : 0));
  json.EndObject();
}

void WriteLoopState(JsonWriter& json, const LoopStateFields& f) {
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
}

void WriteDialler(JsonWriter& json, const DiallerFields& f) {
  json.Key("dialler").BeginObject();
  json.Key("byte").Int(f.byte);
  json.Key("message").Int(f.message);
  json.Key("set").Bool(f.set);
  json.Key("known").Bool(f.known);
  json.EndObject();
}

void WriteRadio(JsonWriter& json, const DecodedMessage& m) {
  json.Key("radio").BeginArray();
  for (std::size_t i = 0; i < m.radioCount && i < m.radio.size(); ++i) {
    const RadioRecordFields& r = m.radio[i];
    json.BeginObject();
    json.Key("event_code").Int(r.eventCode);
    json.Key("new_event").Bool(r.newEvent);
    json.Key("text").StringWith(
        [&](std::string& out) { AppendRadioEventText(out, r.eventCode, r.newEvent ? 1 : 0); });
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

}  // namespace

void AppendFrameHex(std::string& out, std::span<const std::uint8_t> frame) {
  if (frame.empty()) return;
  // Sized once and written in place: "XX" a byte, a space between.
  const std::size_t start = out.size();
  out.resize(start + frame.size() * 3 - 1, ' ');
  char* p = out.data() + start;
  for (std::size_t i = 0; i < frame.size(); ++i, p += 3) {
    p[0] = "0123456789ABCDEF"[frame[i] >> 4u];
    p[1] = "0123456789ABCDEF"[frame[i] & 0x0Fu];
  }
}

void WriteMessageMembers(JsonWriter& json, const DecodedMessage& m) {
  json.Key("kind").String(MessageKindName(m.kind));
  json.Key("sum_ok").Bool(m.sumOk);
  json.Key("sum").Int(m.sum);
  json.Key("raw").StringWith([&](std::string& out) { AppendFrameHex(out, m.raw); });
  json.Key("address_class").String(m.addressClass == AddressClass::Binary ? "binary" : "decimal");
  // A frame with a wrong sum is not decoded past its type byte.
  if (m.sumOk) {
    json.Key("address").String(m.address.view());
    json.Key("address_number").IntOrNull(m.addressNumber, -1);
  }
  json.Key("device_type").Int(m.deviceType);
  if (m.sumOk) json.Key("device_name").String(m.deviceName.view());
  if (m.sumOk && m.addressClass == AddressClass::Binary) json.Key("subtype").Int(m.subtype);
  json.Key("new_event").Bool(m.newEventBit);

  switch (m.kind) {
    case MessageKind::ContactId:
      WriteContactId(json, m.contactId);
      break;
    case MessageKind::LoopState:
      WriteLoopState(json, m.loopState);
      break;
    case MessageKind::Dialler:
      WriteDialler(json, m.dialler);
      break;
    case MessageKind::Radio:
      WriteRadio(json, m);
      break;
    case MessageKind::BadSum:
    case MessageKind::UnknownUnit:
      break;
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

void AppendMessageJson(std::string& out, const DecodedMessage& message) {
  JsonWriter json(out);
  json.BeginObject();
  WriteMessageMembers(json, message);
  json.EndObject();
}

}  // namespace pelvaron
