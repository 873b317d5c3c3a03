#include "hub/station_picture.h"

namespace pelvaron {

namespace {

// The list under key of a payload like {"alarms":[...]}; nothing when it is
// not one.
std::optional<nlohmann::json> ListOf(std::string_view payload, const char* key) {
  nlohmann::json parsed = nlohmann::json::parse(payload, nullptr, false);
  if (!parsed.is_object()) return {};
  auto it = parsed.find(key);
  if (it == parsed.end() || !it->is_array()) return {};
  return std::move(*it);
}

std::string Word(std::string_view payload) {
  return std::string(payload.substr(0, 32));
}

}  // namespace

void StationPicture::OnChange(Changed changed) {
  std::lock_guard lock(mutex_);
  changed_ = std::move(changed);
}

bool StationPicture::Apply(const std::string& station, std::string_view rest, std::string_view payload) {
  Changed changed;
  {
    std::lock_guard lock(mutex_);
    const bool known = consoles_.count(station) != 0;
    Console& console = consoles_[station];
    if (!ApplyLocked(console, rest, payload)) {
      if (!known) consoles_.erase(station);
      return false;
    }
    ++version_;
    changed = changed_;
  }
  if (changed) changed(station);
  return true;
}

bool StationPicture::ApplyLocked(Console& console, std::string_view rest, std::string_view payload) {
  if (rest == "online") {
    console.online = Word(payload);
  } else if (rest == "status/link") {
    console.link = Word(payload);
  } else if (rest == "status/line") {
    console.line = Word(payload);
  } else if (rest == "status/enclosure") {
    console.enclosure = Word(payload);
  } else if (rest.rfind("object/", 0) == 0) {
    const std::string address(rest.substr(7));
    if (payload.empty()) {
      console.objects.erase(address);  // an empty retained message removes it
    } else {
      nlohmann::json state = nlohmann::json::parse(payload, nullptr, false);
      if (!state.is_object()) return false;
      console.objects[address] = std::move(state);
    }
  } else if (rest == "alarms") {
    std::optional<nlohmann::json> alarms = payload.empty() ? nlohmann::json::array() : ListOf(payload, "alarms");
    if (!alarms) return false;
    console.alarms = std::move(*alarms);
  } else if (rest == "plans") {
    std::optional<nlohmann::json> plans = payload.empty() ? nlohmann::json::array() : ListOf(payload, "plans");
    if (!plans) return false;
    console.plans = std::move(*plans);
  } else {
    return false;
  }
  return true;
}

void StationPicture::SawEvent(const std::string& station, const std::string& timeText) {
  Changed changed;
  {
    std::lock_guard lock(mutex_);
    consoles_[station].lastEvent = timeText;
    ++version_;
    changed = changed_;
  }
  if (changed) changed(station);
}

nlohmann::json StationPicture::Snapshot() const {
  std::lock_guard lock(mutex_);
  nlohmann::json stations = nlohmann::json::array();
  const auto textOrNull = [](const std::string& text) { return text.empty() ? nlohmann::json() : nlohmann::json(text); };
  for (const auto& [name, c] : consoles_) {
    nlohmann::json objects = nlohmann::json::array();
    for (const auto& [address, state] : c.objects) objects.push_back(state);
    stations.push_back({{"station", name},
                        {"online", c.online == "online"},
                        {"link", textOrNull(c.link)},
                        {"line", textOrNull(c.line)},
                        {"enclosure", textOrNull(c.enclosure)},
                        {"last_event", textOrNull(c.lastEvent)},
                        {"objects", std::move(objects)},
                        {"alarms", c.alarms},
                        {"plans", c.plans}});
  }
  return {{"stations", std::move(stations)}};
}

std::uint64_t StationPicture::Version() const {
  std::lock_guard lock(mutex_);
  return version_;
}

}  // namespace pelvaron
