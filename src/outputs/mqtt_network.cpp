#include "outputs/mqtt_network.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "outputs/event_record.h"
#include "outputs/station_state.h"

namespace pelvaron {

namespace {

using SteadyClock = std::chrono::steady_clock;

int MsBetween(SteadyClock::time_point from, SteadyClock::time_point to) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
  return ms < 0 ? 0 : static_cast<int>(ms > 60000 ? 60000 : ms);
}

}  // namespace

MqttNetwork::MqttNetwork(const MqttConfig& config, DiskQueue& queue, RetainedStates& states, MqttMailbox& mailbox,
                         CauseReporter& diskReporter, Report report)
    : config_(config),
      queue_(queue),
      states_(states),
      mailbox_(mailbox),
      diskReporter_(diskReporter),
      report_(report),
      base_(StationTopicBase(config.station)),
      eventTopic_(base_ + "event"),
      commandTopics_(base_ + "command/"),
      connection_(config, base_ + "online", std::move(report), *this) {}

MqttNetwork::~MqttNetwork() {
  Finish();
}

void MqttNetwork::Start() {
  connection_.LoadLibrary();
  wakeFd_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  thread_ = std::thread([this] { Run(); });
}

void MqttNetwork::Wake() {
  if (!wakeFd_) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wakeFd_.get(), &one, sizeof one);
}

void MqttNetwork::Finish() {
  finishRequested_ = true;
  Wake();
  if (thread_.joinable()) thread_.join();
}

void MqttNetwork::SessionStarted() {
  // A new session: whatever was unacknowledged goes again, from the first.
  inFlight_.clear();
  queue_.Rewind();
  states_.NewSession();
  for (const std::string& filter : states_.Filters()) {
    if (!connection_.Subscribe(filter)) return;
  }
  // Requests published while the console was away are not done: the one who
  // asked has given up waiting by then.
  if (config_.commands && !connection_.Subscribe(commandTopics_ + "+", 1)) return;
  if (!config_.commands && replay_ != nullptr && !connection_.Subscribe(commandTopics_ + "replay", 1)) return;
  connection_.Publish(nullptr, base_ + "online", "online", true);
  states_.MarkChanged();
  mailbox_.NewSession();
}

void MqttNetwork::Published(int mid) {
  for (InFlight& f : inFlight_) {
    if (f.mid == mid && !f.acked) {
      f.acked = true;
      ++acknowledged_;
      break;
    }
  }
}

void MqttNetwork::Retained(const std::string& topic, std::string payload) {
  if (topic.rfind(commandTopics_, 0) == 0) {
    // Left on the broker by someone other than the hub, which never retains them.
    if (toldAboutRequests_.insert("retained").second && report_) {
      report_("MQTT: на брокере оставлен запрос " + topic +
              " (с флагом retain); такие запросы не выполняются. Удалите его с брокера.");
    }
    return;
  }
  states_.KeptFromBefore(topic, std::move(payload));
}

void MqttNetwork::Heard(const std::string& topic, std::string payload) {
  if (topic.rfind(commandTopics_, 0) != 0) return;
  std::string verb = topic.substr(commandTopics_.size());
  if (verb == "replay") {
    if (replay_ != nullptr && !replay_->Ask(std::move(payload)) && toldAboutRequests_.insert("replay").second &&
        report_) {
      report_("MQTT: просьб повторить события пришло больше, чем консоль успевает прочесть; лишние пропущены "
              "(хаб спросит снова).");
    }
    return;
  }
  if (!config_.commands) return;
  if (verb == "result") return;  // this console's own answers
  if (!mailbox_.Heard(std::move(verb), std::move(payload)) && toldAboutRequests_.insert("full").second && report_) {
    report_("MQTT: запросов к консоли пришло больше, чем она успевает выполнить; лишние пропущены.");
  }
}

void MqttNetwork::Run() {
  backoffMs_ = config_.reconnectMinMs;
  nextAttempt_ = lastSync_ = lastMisc_ = SteadyClock::now();
  for (;;) {
    ++rounds_;
    auto now = SteadyClock::now();
    if (AllDone(now)) break;
    ConnectWhenDue(now);
    connection_.GiveUpUnanswered(now);
    SendWhatIsDue();
    WaitForWork(now);
    now = SteadyClock::now();
    KeepAlive(now);
    DropWhenAsked(now);
    PopAcknowledged();
    SyncWhenDue(now);
    PollPlansWhenDue(now);
  }
  SayGoodbye();
}

// Once the end is asked for: done when everything is sent and acknowledged,
// when there is no broker to send to, or when the time for it is up.
bool MqttNetwork::AllDone(SteadyClock::time_point now) {
  if (finishRequested_ && !finishing_) {
    finishing_ = true;
    finishBy_ = now + std::chrono::milliseconds(config_.drainMs);
  }
  if (!finishing_) return false;
  const bool allSent =
      !connection_.HasClient() || !connection_.Connected() || (inFlight_.empty() && !queue_.HasUnread());
  return allSent || now >= finishBy_;
}

void MqttNetwork::BackOff(SteadyClock::time_point now) {
  nextAttempt_ = now + std::chrono::milliseconds(backoffMs_);
  backoffMs_ = std::min(backoffMs_ * 2, config_.reconnectMaxMs);
}

void MqttNetwork::ConnectWhenDue(SteadyClock::time_point now) {
  if (connection_.HasClient() || finishing_ || now < nextAttempt_) return;
  if (!connection_.Begin()) BackOff(now);
}

void MqttNetwork::SendWhatIsDue() {
  if (!connection_.Up()) return;
  backoffMs_ = config_.reconnectMinMs;
  SendEvents();
  SendReplayed();
  if (states_.Changed() && !connection_.DropAsked()) {
    states_.Publish([this](const std::string& topic, const std::string& payload) {
      return connection_.Publish(nullptr, topic, payload, true);
    });
  }
  if (!connection_.DropAsked()) {
    mailbox_.Publish(SteadyClock::now(), [this](const char* topic, const std::string& payload, bool retain) {
      return connection_.Publish(nullptr, base_ + topic, payload, retain);
    });
  }
}

void MqttNetwork::PollPlansWhenDue(SteadyClock::time_point now) {
  if (!plans_ || (lastPlans_ != SteadyClock::time_point{} && MsBetween(lastPlans_, now) < kPlansEveryMs)) return;
  lastPlans_ = now;
  if (std::optional<std::string> plans = plans_()) mailbox_.SetPlans(std::move(*plans));
}

void MqttNetwork::SendEvents() {
  std::vector<DiskQueue::Record> records;
  while (connection_.Up() && inFlight_.size() < config_.window) {
    records.clear();
    if (queue_.ReadNext(config_.window - inFlight_.size(), records) == 0) break;
    for (DiskQueue::Record& r : records) {
      if (ackedAhead_.erase(r.end) != 0) {
        inFlight_.push_back({0, r.end, true});
        continue;
      }
      if (!LooksLikeEvent(r.data)) {
        // Never published; passed over as if acknowledged, the rest goes on.
        if (garbageTold_.insert(r.end.segment).second && report_) {
          report_("MQTT: в файле очереди " + queue_.SegmentPath(r.end.segment) +
                  " есть записи, которые не являются событиями; они пропущены и не отправляются.");
        }
        inFlight_.push_back({0, r.end, true});
        continue;
      }
      int mid = 0;
      if (!connection_.Publish(&mid, eventTopic_, r.data, false)) return;
      inFlight_.push_back({mid, r.end, false});
    }
  }
}

// Beside the queue: the one who asked for them gives up on a lost connection
// and asks again.
void MqttNetwork::SendReplayed() {
  if (replay_ == nullptr) return;
  for (const ReplayBatch& batch : replay_->TakeBatches()) {
    for (const std::string& event : batch.events) {
      if (!connection_.Publish(nullptr, eventTopic_, event, false)) return;
    }
    if (!connection_.Publish(nullptr, commandTopics_ + "result", batch.result, false)) return;
  }
}

// With everything sent, acknowledged, durable and published, nothing is due
// before the keepalive's ping (sent at most a quarter of it late); an event,
// the console's list, the broker or the end wakes the thread before that.
int MqttNetwork::WaitMs(SteadyClock::time_point now) const {
  int timeoutMs = 1000;
  if (!connection_.HasClient() && !finishing_) timeoutMs = MsBetween(now, nextAttempt_);
  if (connection_.Up() && !finishing_ && inFlight_.empty() && !queue_.HasUnread() && !queue_.Dirty() &&
      !states_.Changed() && !mailbox_.DueNow(now)) {
    timeoutMs = std::max(timeoutMs, config_.keepaliveS * 250);
  }
  if (connection_.Up()) {
    if (const std::optional<int> alarmsIn = mailbox_.DueInMs(now)) timeoutMs = std::min(timeoutMs, *alarmsIn);
  }
  if (plans_) timeoutMs = std::min(timeoutMs, std::max(0, kPlansEveryMs - MsBetween(lastPlans_, now)));
  if (finishing_) timeoutMs = std::min(timeoutMs, MsBetween(now, finishBy_) + 1);
  return timeoutMs;
}

void MqttNetwork::WaitForWork(SteadyClock::time_point now) {
  pollfd fds[2] = {{wakeFd_.get(), POLLIN, 0}, {-1, 0, 0}};
  nfds_t count = 1;
  const int sock = connection_.Socket();
  if (sock >= 0) {
    fds[1] = {sock, static_cast<short>(POLLIN | (connection_.WantWrite() ? POLLOUT : 0)), 0};
    count = 2;
  }
  const int timeoutMs = WaitMs(now);
  if (!connection_.DropAsked()) ::poll(fds, count, timeoutMs);
  if (fds[0].revents & POLLIN) {
    std::uint64_t value;
    [[maybe_unused]] ssize_t n = ::read(wakeFd_.get(), &value, sizeof value);
  }
  if (count == 2 && connection_.HasClient()) connection_.Pump(fds[1].revents);
}

void MqttNetwork::KeepAlive(SteadyClock::time_point now) {
  if (!connection_.HasClient() || connection_.DropAsked() || MsBetween(lastMisc_, now) < 500) return;
  lastMisc_ = now;
  connection_.Misc();
}

void MqttNetwork::DropWhenAsked(SteadyClock::time_point now) {
  if (!connection_.HasClient() || !connection_.DropAsked()) return;
  connection_.Drop();
  for (const InFlight& f : inFlight_) {
    if (f.acked) ackedAhead_.insert(f.end);
  }
  inFlight_.clear();
  queue_.Rewind();
  BackOff(now);
}

void MqttNetwork::PopAcknowledged() {
  bool any = false;
  QueuePosition end;
  while (!inFlight_.empty() && inFlight_.front().acked) {
    end = inFlight_.front().end;
    inFlight_.pop_front();
    any = true;
  }
  if (any) {
    if (Result<> acknowledged = queue_.Acknowledge(end); !acknowledged) {
      const Problem& p = acknowledged.problem();
      diskReporter_.Trouble("ack " + std::to_string(p.code), "Не удалось записать положение очереди MQTT (" +
                                                             config_.queueDir + "): " + p.cause);
    }
  }
}

void MqttNetwork::SyncWhenDue(SteadyClock::time_point now) {
  if (MsBetween(lastSync_, now) < config_.syncEveryMs) return;
  lastSync_ = now;
  if (Result<> synced = queue_.Sync(); !synced) {
    const Problem& p = synced.problem();
    diskReporter_.Trouble("sync " + std::to_string(p.code), "Не удалось сохранить очередь событий MQTT на диске (" +
                                                            config_.queueDir + "): " + p.cause);
  }
}

void MqttNetwork::SayGoodbye() {
  if (connection_.HasClient() && connection_.Connected()) connection_.SayGoodbye();
  PopAcknowledged();
  connection_.Close();
  (void)queue_.Sync();
}

}  // namespace pelvaron
