#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "outputs/desk_channel.h"

namespace pelvaron {

// What passes between the console's thread and the broker's network thread
// besides the events: requests heard, their answers, and the retained
// alarms and plans. The answers go out in order; of the alarms and the
// plans only the latest, the alarms at most once per kAlarmsEveryMs however
// fast the queue changes, and both again on every new session.
class MqttMailbox {
 public:
  using SteadyClock = std::chrono::steady_clock;
  static constexpr int kAlarmsEveryMs = 200;
  // Requests not yet taken by the console: beyond this they are dropped (a
  // console that ticks takes them every half second).
  static constexpr std::size_t kMaxWaiting = 1000;

  // The network thread. False when too many wait already.
  bool Heard(std::string verb, std::string payload);
  // The console's thread.
  std::vector<DeskChannel::Heard> TakeRequests();
  void Answer(std::string result);
  void SetAlarms(std::string payload);
  // Any thread.
  void SetPlans(std::string payload);

  // The network thread: whatever is due goes out, through publish(payload's
  // topic suffix, payload, retain), in order, stopping at the first that
  // fails. A new session wants the alarms and the plans again.
  using Publisher = std::function<bool(const char* topic, const std::string& payload, bool retain)>;
  void Publish(SteadyClock::time_point now, const Publisher& publish);
  void NewSession();
  // Something is to be published now; or, when the alarms wait for their
  // turn, in how many milliseconds (nothing when nothing waits).
  bool DueNow(SteadyClock::time_point now) const;
  std::optional<int> DueInMs(SteadyClock::time_point now) const;

 private:
  mutable std::mutex mutex_;
  std::vector<DeskChannel::Heard> heard_;
  std::deque<std::string> answers_;
  std::optional<std::string> alarms_, plans_;
  bool alarmsDue_ = false, plansDue_ = false;
  SteadyClock::time_point alarmsSent_{};
};

}  // namespace pelvaron
