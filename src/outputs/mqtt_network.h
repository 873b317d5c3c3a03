#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "core/unique_fd.h"
#include "outputs/disk_queue.h"
#include "outputs/event_replay.h"
#include "outputs/mqtt_connection.h"
#include "outputs/mqtt_mailbox.h"
#include "outputs/mqtt_options.h"
#include "outputs/mqtt_retained.h"
#include "outputs/report.h"

namespace pelvaron {

// The broker output's network thread: connects (again and again, backing
// off while the broker is away), sends the events from the disk queue in
// order with at most `window` of them unacknowledged, records what the broker
// acknowledged, keeps the retained states in step, makes the queue durable
// every so often, and at the end says goodbye. It waits on the socket and on
// a wake-up that anything new (an event, the console's list, the end) gives.
class MqttNetwork : private MqttConnection::Listener {
 public:
  MqttNetwork(const MqttConfig& config, DiskQueue& queue, RetainedStates& states, MqttMailbox& mailbox,
              CauseReporter& diskReporter, Report report);
  ~MqttNetwork() override;
  MqttNetwork(const MqttNetwork&) = delete;
  MqttNetwork& operator=(const MqttNetwork&) = delete;

  // The station's plans, asked for on this thread every kPlansEveryMs: a
  // payload when they changed (the first time: when there are any), nothing
  // otherwise. Before Start.
  using PlansSource = std::function<std::optional<std::string>()>;
  void SetPlansSource(PlansSource source) { plans_ = std::move(source); }
  static constexpr int kPlansEveryMs = 10000;
  // What answers command/replay; nullptr: nothing does. Before Start.
  void SetReplay(EventReplay* replay) { replay_ = replay; }

  // Looks for the library (told when it is missing) and starts the thread.
  void Start();
  // Something is new for the thread. Any thread.
  void Wake();
  // Gives the thread up to the config's drainMs to hand the broker what is
  // queued, then the goodbye; returns when it has ended.
  void Finish();

  bool Connected() const { return connection_.Connected(); }
  std::uint64_t Acknowledged() const { return acknowledged_.load(); }
  // Rounds of the thread's loop so far: a thread that never waits shows here.
  std::uint64_t Rounds() const { return rounds_.load(); }

 private:
  struct InFlight {
    int mid = 0;
    QueuePosition end;
    bool acked = false;
  };
  using SteadyClock = std::chrono::steady_clock;

  void SessionStarted() override;
  void Published(int mid) override;
  void Retained(const std::string& topic, std::string payload) override;
  void Heard(const std::string& topic, std::string payload) override;

  // The thread, one named step after another.
  void Run();
  bool AllDone(SteadyClock::time_point now);
  void ConnectWhenDue(SteadyClock::time_point now);
  void SendWhatIsDue();
  void SendEvents();
  void SendReplayed();
  void WaitForWork(SteadyClock::time_point now);
  int WaitMs(SteadyClock::time_point now) const;
  void KeepAlive(SteadyClock::time_point now);
  void DropWhenAsked(SteadyClock::time_point now);
  void PopAcknowledged();
  void SyncWhenDue(SteadyClock::time_point now);
  void PollPlansWhenDue(SteadyClock::time_point now);
  void SayGoodbye();
  void BackOff(SteadyClock::time_point now);

  const MqttConfig& config_;
  DiskQueue& queue_;
  RetainedStates& states_;
  MqttMailbox& mailbox_;
  PlansSource plans_;
  EventReplay* replay_ = nullptr;
  CauseReporter& diskReporter_;  // the queue on disk, shared with the sink's worker
  Report report_;
  const std::string base_;  // "pelvaron/<station>/"
  const std::string eventTopic_;
  const std::string commandTopics_;  // "pelvaron/<station>/command/"
  MqttConnection connection_;

  // The thread's own.
  std::deque<InFlight> inFlight_;
  std::set<QueuePosition> ackedAhead_;   // acknowledged behind an unacknowledged one
  std::set<std::uint64_t> garbageTold_;  // segments with a record that is no event
  int backoffMs_ = 0;
  SteadyClock::time_point nextAttempt_;
  SteadyClock::time_point lastSync_;
  SteadyClock::time_point lastMisc_;
  SteadyClock::time_point lastPlans_;
  std::set<std::string> toldAboutRequests_;
  bool finishing_ = false;
  SteadyClock::time_point finishBy_;

  std::atomic<bool> finishRequested_{false};
  std::atomic<std::uint64_t> acknowledged_{0};
  std::atomic<std::uint64_t> rounds_{0};
  UniqueFd wakeFd_;
  std::thread thread_;
};

}  // namespace pelvaron
