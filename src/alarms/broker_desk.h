#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "alarms/alarm_desk.h"
#include "outputs/command_request.h"
#include "outputs/desk_channel.h"
#include "outputs/report.h"
#include "store/store_sink.h"

namespace pelvaron {

// The alarm desk seen and handled through the broker, on the console's
// thread after every tick: the queue is shown whenever it changed, and, when
// asked for (--mqtt-commands), each request heard is done once by its id,
// recorded as the window records it in the name of whoever asked, and
// answered; a request heard again gets the answer it got the first time
// (the store keeps the answers).
class BrokerDesk {
 public:
  // What names the hub in the records of what it asked for.
  static constexpr const char* kSource = "pelvaron-hub";

  BrokerDesk(AlarmDesk& desk, EventStoreSink& store, DeskChannel& channel, bool commands, Report report);

  // now: the console's time, when the answers were given.
  void AfterTick(std::int64_t now);

 private:
  void Take(const DeskChannel::Heard& heard, std::int64_t now);
  // Empty when done, else why not.
  std::string Do(const CommandRequest& request);

  AlarmDesk& desk_;
  EventStoreSink& store_;
  DeskChannel& channel_;
  const bool commands_;
  Report report_;
  std::uint64_t shownChanges_ = 0;
  bool shown_ = false;
  std::set<std::string> told_;  // requests without an id, by what was wrong
};

}  // namespace pelvaron
