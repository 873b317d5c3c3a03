#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/result.h"

namespace pelvaron {

// One console's event as the hub keeps it: the members it is searched by,
// and the event's JSON as it came.
struct HubEvent {
  std::string station;  // the topic's: what commands go back to
  std::int64_t seq = 0;
  std::int64_t time = 0;  // calendar seconds (UTC)
  std::string timeText;   // as the console wrote it, with its offset
  std::string kind;
  std::string address;  // empty: none
  std::string text;
  std::string command;
  std::string detail;
  std::optional<std::int64_t> ref;
  std::string operatorName;
  // What the alarm queue took it for, as the console's store keeps it:
  // 1 alarm, 2 restore (with the priority and key the console sent),
  // 3 acknowledgement, 4 action, 5 close; 0 anything else.
  int alarmRole = 0;
  std::string priority;
  std::string alarmKey;
  std::string json;
};

// Reads an event payload published under pelvaron/<station>/event. Refused
// (in Russian) when it is not an event as the console writes it.
Result<HubEvent> ParseHubEvent(std::string station, std::string json);

// "2026-12-07T10:22:20+03:00" in calendar seconds; nothing when malformed.
std::optional<std::int64_t> IsoTimeSeconds(std::string_view text);

}  // namespace pelvaron
