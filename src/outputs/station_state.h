#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "events/event.h"
#include "outputs/object_states.h"

namespace pelvaron {

// What a subscriber should find on the broker at any time: the receiver's
// link, telephone line and enclosure as the window's status fields show them
// (kept from the events), and each registered object's state as the
// console's object list shows it (taken from the list itself). Not
// thread-safe: its owner locks.
//
//   status/link       "ok" | "lost"
//   status/line       "ok" | "fault"
//   status/enclosure  "closed" | "open"
//   object/<address>  {"address","control","comment"}
//                     control: "normal" | "overdue" | "off"
class StationState {
 public:
  // Takes an event into account; true when a status changed.
  bool Apply(const Event& event);
  // The objects as the console's list has them now; true when that changed.
  bool SetObjects(std::vector<ObjectStatus> objects);
  // False until the console's list has been seen: until then nothing is
  // known of the objects, not even that there are none.
  bool ObjectsKnown() const { return objectsKnown_; }
  const std::vector<ObjectStatus>& Objects() const { return objects_; }

  // Every retained message there is now: topic below "pelvaron/<station>/"
  // and its payload.
  std::map<std::string, std::string> Retained() const;

 private:
  std::map<std::string, std::string> status_;
  std::vector<ObjectStatus> objects_;
  bool objectsKnown_ = false;
};

// The topics of a station: "pelvaron/<station>/"; characters MQTT gives a
// meaning in topics ('/', '+', '#') and control characters become '_'.
std::string StationTopicBase(std::string_view station);
// "object/<address>", the address made safe the same way.
std::string ObjectTopic(std::string_view address);
std::string ObjectPayload(const ObjectStatus& state);

// Discovery messages that let home-automation software show the link, the
// line, the enclosure and each object as sensors without configuration:
// retained configs under "<prefix>/binary_sensor/..." and
// "<prefix>/sensor/...", by their full topics.
std::map<std::string, std::string> DiscoveryMessages(std::string_view prefix, std::string_view station,
                                                     const std::vector<ObjectStatus>& objects);
// The filter that finds every object's config of this station.
std::string DiscoveryObjectFilter(std::string_view prefix, std::string_view station);

// MQTT's limit on a topic (a UTF-8 string of 65535 bytes at most).
inline constexpr std::size_t kMaxMqttTopicBytes = 65535;

// The longest topic the console would publish for this station and
// discovery prefix (empty: no discovery), in bytes.
std::size_t LongestTopic(std::string_view station, std::string_view discoveryPrefix);

}  // namespace pelvaron
