#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace pelvaron {

// The station as its consoles show it on the broker: for each console
// whether it is online, its receiver's link, line and enclosure, its objects
// and their states, its alarm queue and its plans (as the console publishes
// them), and the time of its last event. Any thread may read it; the hub's
// loop changes it.
class StationPicture {
 public:
  // Told after each change, with the station that changed, on the hub's
  // thread.
  using Changed = std::function<void(const std::string& station)>;
  void OnChange(Changed changed);

  // A message below "pelvaron/<station>/": rest is the part after that.
  // False for what is no part of the picture (events, commands).
  bool Apply(const std::string& station, std::string_view rest, std::string_view payload);
  // An event's time: the console's last word.
  void SawEvent(const std::string& station, const std::string& timeText);

  // {"stations":[{"station","online","link","line","enclosure","last_event",
  //   "objects":[...],"alarms":[...],"plans":[...]}...]}, by station name.
  nlohmann::json Snapshot() const;
  std::string Json() const { return Snapshot().dump(); }
  // Grows with each change.
  std::uint64_t Version() const;

 private:
  struct Console {
    std::string online;  // "online" | "offline" | "" (not said yet)
    std::string link, line, enclosure;
    std::string lastEvent;
    std::map<std::string, nlohmann::json> objects;  // by address
    nlohmann::json alarms = nlohmann::json::array();
    nlohmann::json plans = nlohmann::json::array();
  };
  bool ApplyLocked(Console& console, std::string_view rest, std::string_view payload);

  mutable std::mutex mutex_;
  std::map<std::string, Console> consoles_;
  std::uint64_t version_ = 0;
  Changed changed_;
};

}  // namespace pelvaron
