#include "outputs/mqtt_mailbox.h"

#include <algorithm>

namespace pelvaron {

bool MqttMailbox::Heard(std::string verb, std::string payload) {
  std::lock_guard lock(mutex_);
  if (heard_.size() >= kMaxWaiting) return false;
  heard_.push_back({std::move(verb), std::move(payload)});
  return true;
}

std::vector<DeskChannel::Heard> MqttMailbox::TakeRequests() {
  std::lock_guard lock(mutex_);
  std::vector<DeskChannel::Heard> taken;
  taken.swap(heard_);
  return taken;
}

void MqttMailbox::Answer(std::string result) {
  std::lock_guard lock(mutex_);
  answers_.push_back(std::move(result));
}

void MqttMailbox::SetAlarms(std::string payload) {
  std::lock_guard lock(mutex_);
  if (alarms_ == payload) return;
  alarms_ = std::move(payload);
  alarmsDue_ = true;
}

void MqttMailbox::SetPlans(std::string payload) {
  std::lock_guard lock(mutex_);
  if (plans_ == payload) return;
  plans_ = std::move(payload);
  plansDue_ = true;
}

void MqttMailbox::NewSession() {
  std::lock_guard lock(mutex_);
  alarmsDue_ = alarms_.has_value();
  plansDue_ = plans_.has_value();
  alarmsSent_ = {};
}

bool MqttMailbox::DueNow(SteadyClock::time_point now) const {
  std::lock_guard lock(mutex_);
  return !answers_.empty() || plansDue_ ||
         (alarmsDue_ && now - alarmsSent_ >= std::chrono::milliseconds(kAlarmsEveryMs));
}

std::optional<int> MqttMailbox::DueInMs(SteadyClock::time_point now) const {
  std::lock_guard lock(mutex_);
  if (!alarmsDue_) return std::nullopt;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        alarmsSent_ + std::chrono::milliseconds(kAlarmsEveryMs) - now)
                        .count();
  return static_cast<int>(std::clamp<long long>(left, 0, kAlarmsEveryMs));
}

void MqttMailbox::Publish(SteadyClock::time_point now, const Publisher& publish) {
  std::unique_lock lock(mutex_);
  // Published outside the lock: the console's thread never waits for the library.
  while (!answers_.empty()) {
    std::string answer = answers_.front();
    lock.unlock();
    const bool sent = publish("command/result", answer, false);
    lock.lock();
    if (!sent) return;
    answers_.pop_front();
  }
  if (alarmsDue_ && now - alarmsSent_ >= std::chrono::milliseconds(kAlarmsEveryMs)) {
    const std::string alarms = *alarms_;
    alarmsDue_ = false;
    alarmsSent_ = now;
    lock.unlock();
    const bool sent = publish("alarms", alarms, true);
    lock.lock();
    if (!sent) {
      alarmsDue_ = true;
      return;
    }
  }
  if (plansDue_) {
    const std::string plans = *plans_;
    plansDue_ = false;
    lock.unlock();
    const bool sent = publish("plans", plans, true);
    lock.lock();
    if (!sent) plansDue_ = true;
  }
}

}  // namespace pelvaron
