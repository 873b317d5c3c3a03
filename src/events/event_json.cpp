#include "events/event_json.h"

#include "decode/message_json.h"

namespace pelvaron {

void AppendEventJson(std::string& out, const Event& e) {
  JsonWriter json(out);
  json.BeginObject();
  json.Key("seq").Int(static_cast<std::int64_t>(e.seq));
  json.Key("time").String(e.timeText);
  json.Key("station").String(e.station);
  json.Key("kind").String(EventKindName(e.kind));
  json.Key("text").String(e.text);
  const bool message = e.kind == EventKind::Message;
  if (message || !e.address.empty()) json.Key("address").String(e.address);
  if (!e.command.empty()) json.Key("command").String(e.command);
  if (!e.detail.empty()) json.Key("detail").String(e.detail);
  if (e.ref != 0 || e.kind == EventKind::AlarmAcknowledged) json.Key("ref").Int(static_cast<std::int64_t>(e.ref));
  if (!e.operatorName.empty()) json.Key("operator").String(e.operatorName);
  if (message && e.alarmRole != 0) {
    json.Key("priority").String(e.priority);
    json.Key("alarm_key").String(e.alarmKey);
    json.Key("restore").Bool(e.alarmRole == 2);
  }
  if (message) {
    json.Key("lines").BeginArray();
    if (e.message) {
      for (std::size_t i = 0; i < e.message->lines.size(); ++i) json.String(e.message->lines[i]);
    }
    json.EndArray();
    if (e.message) {
      json.Key("message").BeginObject();
      WriteMessageMembers(json, *e.message);
      json.EndObject();
    }
  }
  json.EndObject();
}

std::string EventJson(const Event& event) {
  std::string out;
  out.reserve(event.kind == EventKind::Message ? 1536 : 256);
  AppendEventJson(out, event);
  return out;
}

}  // namespace pelvaron
