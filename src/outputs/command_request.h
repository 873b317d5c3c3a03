#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pelvaron {

// A request to the alarm desk that came through the broker on
// pelvaron/<station>/command/<verb>: acknowledge an alarm, record an action
// on it, close it. docs/events.md gives the payloads.
struct CommandRequest {
  enum class Verb { Acknowledge, Action, Close };
  Verb verb = Verb::Acknowledge;
  std::string id;            // the request's id: what its answer names
  std::string operatorName;  // who asked, named in the records
  std::uint64_t ref = 0;     // the alarm: the number of its first event
  std::string note;          // acknowledge, close
  std::string action;        // action: a code of kAlarmActions
  std::string detail;        // action
  std::string outcome;       // close: a code of kAlarmOutcomes
};

// What came: a request understood, or why not (in Russian, for the answer)
// with its id when one could be read (no id: nobody to answer).
struct CommandParse {
  std::optional<CommandRequest> request;
  std::string id;
  std::string problem;
};

inline constexpr std::size_t kMaxCommandBytes = 4096;
inline constexpr std::size_t kMaxCommandIdBytes = 64;
inline constexpr std::size_t kMaxCommandOperatorChars = 64;

// 1 to 64 of A-Z, a-z, 0-9 and . _ : -
bool IsCommandId(const std::string& id);

// verb: the topic's last level ("ack", "action", "close").
CommandParse ParseCommand(std::string_view verb, std::string_view payload);

// The answer published on command/result.
std::string CommandResultJson(const std::string& id, bool accepted, const std::string& reason);

}  // namespace pelvaron
