#include "outputs/station_state.h"

#include <algorithm>
#include <cstdint>

#include "core/json_writer.h"

namespace pelvaron {

namespace {

constexpr char kLink[] = "status/link";
constexpr char kLine[] = "status/line";
constexpr char kEnclosure[] = "status/enclosure";
// Home Assistant's entity ids are 255 characters at most.
constexpr std::size_t kMaxEntityId = 255;
// An object's address: 8 bytes of Windows-1251, at most 3 bytes each in UTF-8.
constexpr std::size_t kMaxAddressBytes = 24;

std::string TopicSafe(std::string_view text) {
  std::string out;
  for (char c : text) {
    const bool special = c == '/' || c == '+' || c == '#' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    out += special ? '_' : c;
  }
  return out;
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

// "<component>.<id>" as Home Assistant writes entity ids: lower-case letters,
// digits and single underscores, 255 characters at most (a longer one is cut
// and told apart by a hash of the whole).
std::string EntityId(std::string_view component, std::string_view id) {
  std::string slug;
  for (char c : id) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    const bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (plain) {
      slug += c;
    } else if (!slug.empty() && slug.back() != '_') {
      slug += '_';
    }
  }
  while (!slug.empty() && slug.back() == '_') slug.pop_back();
  const std::size_t room = kMaxEntityId - component.size() - 1;
  if (slug.size() > room) {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (char c : slug) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    slug.resize(room - 9);
    while (!slug.empty() && slug.back() == '_') slug.pop_back();
    slug += '_';
    for (int shift = 28; shift >= 0; shift -= 4) slug += "0123456789abcdef"[(hash >> shift) & 15];
  }
  return std::string(component) + "." + slug;
}

std::string NodeId(std::string_view station) {
  return "pelvaron_" + IdSafe(station);
}

}  // namespace

std::string StationTopicBase(std::string_view station) {
  return "pelvaron/" + (station.empty() ? std::string("_") : TopicSafe(station)) + "/";
}

std::string ObjectTopic(std::string_view address) {
  return "object/" + TopicSafe(address);
}

std::string ObjectPayload(const ObjectStatus& s) {
  std::string out;
  JsonWriter json(out);
  json.BeginObject();
  json.Key("address").String(s.address);
  json.Key("control").String(s.control);
  json.Key("comment").String(s.comment);
  json.EndObject();
  return out;
}

bool StationState::Apply(const Event& e) {
  const std::map<std::string, std::string> before = status_;
  switch (e.kind) {
    case EventKind::ConsoleStarted:
      // As the window starts: no link until the receiver answers.
      status_[kLink] = "lost";
      status_[kLine] = "ok";
      status_[kEnclosure] = "closed";
      break;
    case EventKind::LinkLost: status_[kLink] = "lost"; break;
    case EventKind::LinkRestored: status_[kLink] = "ok"; break;
    case EventKind::LineFault: status_[kLine] = "fault"; break;
    case EventKind::LineRestored: status_[kLine] = "ok"; break;
    case EventKind::EnclosureOpened: status_[kEnclosure] = "open"; break;
    case EventKind::EnclosureClosed: status_[kEnclosure] = "closed"; break;
    default: break;
  }
  return status_ != before;
}

bool StationState::SetObjects(std::vector<ObjectStatus> objects) {
  if (objectsKnown_ && objects == objects_) return false;
  objects_ = std::move(objects);
  objectsKnown_ = true;
  return true;
}

std::map<std::string, std::string> StationState::Retained() const {
  std::map<std::string, std::string> all = status_;
  for (const ObjectStatus& s : objects_) all[ObjectTopic(s.address)] = ObjectPayload(s);
  return all;
}

std::map<std::string, std::string> DiscoveryMessages(std::string_view prefix, std::string_view station,
                                                     const std::vector<ObjectStatus>& objects) {
  const std::string base = StationTopicBase(station);
  const std::string node = NodeId(station);
  std::map<std::string, std::string> messages;
  auto config = [&](const char* component, const std::string& objectId, const std::string& name,
                    const std::string& stateTopic, auto&& more) {
    std::string out;
    JsonWriter json(out);
    json.BeginObject();
    json.Key("name").String(name);
    json.Key("unique_id").String(node + "_" + objectId);
    json.Key("default_entity_id").String(EntityId(component, node + "_" + objectId));
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
    json.Key("origin").BeginObject();
    json.Key("name").String("pelvaron");
    json.EndObject();
    json.EndObject();
    messages[std::string(prefix) + "/" + component + "/" + node + "/" + objectId + "/config"] = out;
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
  for (const ObjectStatus& s : objects) {
    const std::string topic = ObjectTopic(s.address);
    config("sensor", "object_" + IdSafe(s.address), "Объект " + s.address, topic, [&](JsonWriter& json) {
      json.Key("value_template").String("{{ value_json.control }}");
      json.Key("json_attributes_topic").String(base + topic);
      json.Key("icon").String("mdi:shield-home");
    });
  }
  return messages;
}

std::string DiscoveryObjectFilter(std::string_view prefix, std::string_view station) {
  return std::string(prefix) + "/sensor/" + NodeId(station) + "/+/config";
}

std::size_t LongestTopic(std::string_view station, std::string_view discoveryPrefix) {
  const std::size_t own = StationTopicBase(station).size() + std::string_view("status/enclosure").size() +
                          kMaxAddressBytes;
  if (discoveryPrefix.empty()) return own;
  const std::size_t config = discoveryPrefix.size() + std::string_view("/binary_sensor/").size() +
                             NodeId(station).size() + std::string_view("/object_").size() + 3 * kMaxAddressBytes +
                             std::string_view("/config").size();
  return std::max(own, config);
}

}  // namespace pelvaron
