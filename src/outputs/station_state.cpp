#include "outputs/station_state.h"

#include <algorithm>

#include "core/json_writer.h"

namespace pelvaron {

namespace {

constexpr char kLink[] = "status/link";
constexpr char kLine[] = "status/line";
constexpr char kEnclosure[] = "status/enclosure";

std::string ObjectTopic(const std::string& address) {
  return "object/" + address;
}

// Letters, digits, '_' and '-' only: what discovery ids may hold. Any other
// byte becomes '_' and its two hexadecimal digits, so different names stay
// different ids ("пост 1" -> "_d0_bf_d0_be_d1_81_d1_82_201").
std::string IdSafe(std::string_view text) {
  std::string id;
  for (char c : text) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
    if (plain) {
      id += c;
      continue;
    }
    const auto b = static_cast<unsigned char>(c);
    id += '_';
    id += "0123456789abcdef"[b >> 4];
    id += "0123456789abcdef"[b & 15];
  }
  return id;
}

// A string member, read back from a payload this class wrote.
std::string Member(std::string_view json, std::string_view key) {
  const std::string pattern = "\"" + std::string(key) + "\":\"";
  const std::size_t at = json.find(pattern);
  if (at == std::string_view::npos) return {};
  std::string value;
  for (std::size_t i = at + pattern.size(); i < json.size() && json[i] != '"'; ++i) {
    if (json[i] == '\\' && i + 1 < json.size()) ++i;
    value += json[i];
  }
  return value;
}

}  // namespace

std::string StationTopicBase(std::string_view station) {
  std::string base = "pelvaron/";
  for (char c : station) {
    const bool special = c == '/' || c == '+' || c == '#' || static_cast<unsigned char>(c) < 0x20;
    base += special ? '_' : c;
  }
  if (station.empty()) base += '_';
  base += '/';
  return base;
}

void StationState::Set(const std::string& topic, std::string payload) {
  auto it = retained_.find(topic);
  if (it != retained_.end() && it->second == payload) return;
  retained_[topic] = std::move(payload);
  ++revisions_;
  if (std::find(changed_.begin(), changed_.end(), topic) == changed_.end()) changed_.push_back(topic);
}

std::string StationState::ObjectPayload(const std::string& address, const ObjectState& s) {
  std::string out;
  JsonWriter json(out);
  json.BeginObject();
  json.Key("address").String(address);
  json.Key("control").String(s.control);
  json.Key("text").String(s.text);
  json.Key("kind").String(s.kind);
  json.Key("seq").Int(static_cast<std::int64_t>(s.seq));
  json.Key("time").String(s.time);
  json.EndObject();
  return out;
}

void StationState::SetObject(const std::string& address, const ObjectState& state) {
  objects_[address] = state;
  Set(ObjectTopic(address), ObjectPayload(address, state));
}

void StationState::RemoveObject(const std::string& address) {
  if (objects_.erase(address) == 0) return;
  Set(ObjectTopic(address), "");
}

bool StationState::Apply(const Event& e) {
  const std::uint64_t before = revisions_;
  auto touch = [&](const std::string& address, const char* control) {
    ObjectState s = objects_.count(address) ? objects_[address] : ObjectState{};
    if (control != nullptr) s.control = control;
    s.text = e.text;
    s.kind = std::string(EventKindName(e.kind));
    s.seq = e.seq;
    s.time = e.timeText;
    SetObject(address, s);
  };
  auto all = [&](const char* control, const char* onlyFrom) {
    for (auto& [address, s] : objects_) {
      if (onlyFrom != nullptr && s.control != onlyFrom) continue;
      ObjectState next = s;
      next.control = control;
      SetObject(address, next);
    }
  };
  switch (e.kind) {
    case EventKind::ConsoleStarted:
      // As the window starts: no link until the receiver answers.
      Set(kLink, "lost");
      Set(kLine, "ok");
      Set(kEnclosure, "closed");
      break;
    case EventKind::LinkLost:
      Set(kLink, "lost");
      break;
    case EventKind::LinkRestored:
      Set(kLink, "ok");
      break;
    case EventKind::LineFault:
      Set(kLine, "fault");
      break;
    case EventKind::LineRestored:
      Set(kLine, "ok");
      break;
    case EventKind::EnclosureOpened:
      Set(kEnclosure, "open");
      break;
    case EventKind::EnclosureClosed:
      Set(kEnclosure, "closed");
      break;
    case EventKind::Message:
      if (!e.address.empty() && e.message && e.message->sumOk) touch(e.address, nullptr);
      break;
    case EventKind::ObjectOverdue:
      if (!e.address.empty()) touch(e.address, "overdue");
      break;
    case EventKind::ObjectBackInControl:
      if (!e.address.empty()) touch(e.address, "normal");
      break;
    case EventKind::ObjectsChanged:
      if (e.command == "register" || e.command == "control-on") {
        touch(e.address, "normal");
      } else if (e.command == "edit") {
        touch(e.address, nullptr);
      } else if (e.command == "control-off") {
        touch(e.address, "off");
      } else if (e.command == "reset-counter") {
        touch(e.address, objects_.count(e.address) && objects_[e.address].control == "overdue" ? "normal" : nullptr);
      } else if (e.command == "delete") {
        RemoveObject(e.address);
      } else if (e.command == "clear-all") {
        std::vector<std::string> addresses = ObjectAddresses();
        for (const std::string& a : addresses) RemoveObject(a);
      } else if (e.command == "control-all-on") {
        all("normal", nullptr);
      } else if (e.command == "control-all-off") {
        all("off", nullptr);
      } else if (e.command == "reset-all-counters") {
        all("normal", "overdue");
      }
      break;
    case EventKind::ConsoleStopped:
    case EventKind::SettingsChanged:
    case EventKind::ReceiverSettingsWritten:
    case EventKind::AlarmAcknowledged:
      break;
  }
  return revisions_ != before;
}

std::vector<RetainedState> StationState::All() const {
  std::vector<RetainedState> states;
  for (const auto& [topic, payload] : retained_) {
    if (!payload.empty()) states.push_back({topic, payload});
  }
  return states;
}

std::vector<RetainedState> StationState::TakeChanged() {
  std::vector<RetainedState> states;
  for (const std::string& topic : changed_) states.push_back({topic, retained_[topic]});
  changed_.clear();
  // A removal has been handed on: the topic is forgotten.
  for (auto it = retained_.begin(); it != retained_.end();) {
    it = it->second.empty() ? retained_.erase(it) : std::next(it);
  }
  return states;
}

std::vector<std::string> StationState::ObjectAddresses() const {
  std::vector<std::string> addresses;
  for (const auto& entry : objects_) addresses.push_back(entry.first);
  return addresses;
}

std::string StationState::SaveObjects() const {
  std::string text;
  for (const auto& [address, s] : objects_) {
    text += ObjectPayload(address, s);
    text += '\n';
  }
  return text;
}

void StationState::LoadObjects(std::string_view text) {
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end < text.size() ? end + 1 : end);
    const std::string address = Member(line, "address");
    if (address.empty() || address.find_first_of("/+#") != std::string::npos) continue;
    ObjectState s;
    s.control = Member(line, "control");
    if (s.control.empty()) s.control = "unknown";
    s.text = Member(line, "text");
    s.kind = Member(line, "kind");
    s.time = Member(line, "time");
    const std::size_t seqAt = line.find("\"seq\":");
    if (seqAt != std::string_view::npos) s.seq = std::strtoull(std::string(line.substr(seqAt + 6, 20)).c_str(), nullptr, 10);
    objects_[address] = s;
    retained_[ObjectTopic(address)] = ObjectPayload(address, s);
  }
}

std::vector<RetainedState> DiscoveryMessages(std::string_view prefix, std::string_view station,
                                             const std::vector<std::string>& objects,
                                             const std::vector<std::string>& removed) {
  const std::string base = StationTopicBase(station);
  const std::string node = "pelvaron_" + IdSafe(station);
  std::vector<RetainedState> messages;
  auto config = [&](const char* component, const std::string& objectId, const std::string& name,
                    const std::string& stateTopic, auto&& more) {
    std::string out;
    JsonWriter json(out);
    json.BeginObject();
    json.Key("name").String(name);
    json.Key("unique_id").String(node + "_" + objectId);
    json.Key("object_id").String(node + "_" + objectId);
    json.Key("state_topic").String(base + stateTopic);
    json.Key("availability_topic").String(base + "online");
    json.Key("payload_available").String("online");
    json.Key("payload_not_available").String("offline");
    more(json);
    json.Key("device").BeginObject();
    json.Key("identifiers").BeginArray().String(node).EndArray();
    json.Key("name").String("Pelvaron " + std::string(station));
    json.Key("model").String("Pelvaron");
    json.EndObject();
    json.EndObject();
    messages.push_back({std::string(prefix) + "/" + component + "/" + node + "/" + objectId + "/config", out});
  };
  auto binary = [&](const char* objectId, const char* name, const char* topic, const char* deviceClass,
                    const char* on, const char* off) {
    config("binary_sensor", objectId, name, topic, [&](JsonWriter& json) {
      json.Key("device_class").String(deviceClass);
      json.Key("payload_on").String(on);
      json.Key("payload_off").String(off);
    });
  };
  // Connectivity is "on" when connected; problem and tamper when something is wrong.
  binary("link", "Связь с приёмником", kLink, "connectivity", "ok", "lost");
  binary("line", "Телефонная линия", kLine, "problem", "fault", "ok");
  binary("enclosure", "Корпус приёмника", kEnclosure, "tamper", "open", "closed");
  for (const std::string& address : objects) {
    config("sensor", "object_" + IdSafe(address), "Объект " + address, ObjectTopic(address), [&](JsonWriter& json) {
      json.Key("value_template").String("{{ value_json.control }}");
      json.Key("json_attributes_topic").String(base + ObjectTopic(address));
      json.Key("icon").String("mdi:shield-home");
    });
  }
  for (const std::string& address : removed) {
    messages.push_back({std::string(prefix) + "/sensor/" + node + "/object_" + IdSafe(address) + "/config", ""});
  }
  return messages;
}

}  // namespace pelvaron
