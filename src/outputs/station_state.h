#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "events/event.h"

namespace pelvaron {

// One retained message: a topic below "pelvaron/<station>/" and its payload;
// an empty payload removes what the broker kept.
struct RetainedState {
  std::string topic;
  std::string payload;
  bool operator==(const RetainedState&) const = default;
};

// What a subscriber should find on the broker at any time, kept from the
// events: the receiver's link, telephone line and enclosure as the window's
// status fields show them, and each object's control state with its last
// event. Not thread-safe: its owner locks.
//
//   status/link       "ok" | "lost"
//   status/line       "ok" | "fault"
//   status/enclosure  "closed" | "open"
//   object/<address>  {"address","control","text","kind","seq","time"}
//                     control: "normal" | "overdue" | "off" | "unknown"
class StationState {
 public:
  // Takes an event into account; true when a retained state changed.
  bool Apply(const Event& event);
  // Every state known now (removed objects are not in it).
  std::vector<RetainedState> All() const;
  // The states changed since the last call, removals included, in order.
  std::vector<RetainedState> TakeChanged();
  bool HasChanges() const { return !changed_.empty(); }
  std::vector<std::string> ObjectAddresses() const;

  // The objects' states as text (one payload a line) to keep across restarts,
  // and back; the link, line and enclosure start afresh with each run.
  std::string SaveObjects() const;
  void LoadObjects(std::string_view text);

 private:
  struct ObjectState {
    std::string control = "unknown";
    std::string text;
    std::string kind;
    std::uint64_t seq = 0;
    std::string time;
  };
  void Set(const std::string& topic, std::string payload);
  void SetObject(const std::string& address, const ObjectState& state);
  void RemoveObject(const std::string& address);
  static std::string ObjectPayload(const std::string& address, const ObjectState& state);

  std::map<std::string, std::string> retained_;  // topic -> payload
  std::map<std::string, ObjectState> objects_;
  std::vector<std::string> changed_;             // topics, in the order they changed
  std::uint64_t revisions_ = 0;
};

// The topics of a station: "pelvaron/<station>/"; characters MQTT gives a
// meaning in topics ('/', '+', '#') and control characters become '_'.
std::string StationTopicBase(std::string_view station);

// Discovery messages that let home-automation software show the link, the
// line, the enclosure and each object as sensors without configuration:
// retained configs under "<prefix>/binary_sensor/..." and "<prefix>/sensor/...".
// An object in `removed` gets an empty config, which removes its sensor.
std::vector<RetainedState> DiscoveryMessages(std::string_view prefix, std::string_view station,
                                             const std::vector<std::string>& objects,
                                             const std::vector<std::string>& removed = {});

}  // namespace pelvaron
