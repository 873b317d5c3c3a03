#include "hub/replay_planner.h"

#include <algorithm>

#include <nlohmann/json.hpp>

namespace pelvaron {

ReplayPlanner::ReplayPlanner(std::string idPrefix) : idPrefix_(std::move(idPrefix)) {}

void ReplayPlanner::Want(const std::string& station, std::int64_t from, std::int64_t to, bool gap) {
  if (from < 1) from = 1;
  if (to < from) return;
  Station& s = stations_[station];
  for (std::size_t i = 0; i < s.ranges.size(); ++i) {
    Range& r = s.ranges[i];
    if (r.firstFrom == from && r.to == to && r.gap == gap) return;  // asked already
    // Up to the newest, once: the lower start covers both (not the one out now).
    if (!gap && !r.gap && to == kOpen && r.to == kOpen && (i > 0 || s.asked.empty())) {
      r.from = r.firstFrom = std::min(r.firstFrom, from);
      return;
    }
  }
  s.ranges.push_back({from, to, from, gap, 0});
}

void ReplayPlanner::Online(const std::string& station, bool online) {
  auto it = stations_.find(station);
  if (it == stations_.end()) {
    if (!online) stations_[station].offline = true;
    return;
  }
  Station& s = it->second;
  s.offline = !online;
  if (online) s.silent = false;
}

void ReplayPlanner::Reconnected() {
  for (auto& [name, s] : stations_) {
    s.asked.clear();
    s.silent = false;
  }
}

std::optional<ReplayPlanner::Request> ReplayPlanner::Next(Clock::time_point now) {
  bool out = false;
  for (auto& [name, s] : stations_) {
    if (!s.asked.empty() && now >= s.deadline) {
      s.asked.clear();
      s.silent = true;
      s.silentUntil = now + kSilentRetry;
    }
    if (s.silent && now >= s.silentUntil) s.silent = false;
    out = out || !s.asked.empty();
  }
  if (out || (lastSent_ != Clock::time_point{} && now < lastSent_ + kEvery)) return {};
  // Round and round: the one after the station asked last goes first.
  auto it = stations_.upper_bound(lastAsked_);
  for (std::size_t n = 0; n < stations_.size(); ++n, ++it) {
    if (it == stations_.end()) it = stations_.begin();
    auto& [name, s] = *it;
    if (s.ranges.empty() || !s.asked.empty() || s.silent || s.offline) continue;
    const Range& r = s.ranges.front();
    s.asked = idPrefix_ + "-" + std::to_string(++counter_);
    s.seen.clear();
    s.deadline = now + kAnswerWait;
    lastSent_ = now;
    lastAsked_ = name;
    nlohmann::json payload = {{"request", s.asked}, {"from", r.from}};
    if (r.to != kOpen) payload["to"] = r.to;
    return Request{"pelvaron/" + name + "/command/replay", payload.dump()};
  }
  return {};
}

std::optional<int> ReplayPlanner::DueInMs(Clock::time_point now) const {
  bool waiting = false;
  std::optional<Clock::time_point> due;
  for (const auto& [name, s] : stations_) {
    if (!s.asked.empty()) due = s.deadline;  // the one out: its answer, or its time-out
    if (!s.ranges.empty() && s.asked.empty() && !s.silent && !s.offline) waiting = true;
  }
  if (!waiting && !due) return {};
  const auto until = (due ? *due : lastSent_ + kEvery) - now;
  return static_cast<int>(std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(until).count()));
}

bool ReplayPlanner::Answer(const std::string& station, std::string_view payload, std::int64_t newestSeen,
                           Clock::time_point now, std::optional<Done>& done) {
  done.reset();
  const nlohmann::json answer = nlohmann::json::parse(payload, nullptr, false);
  if (!answer.is_object() || !answer.contains("request") || !answer["request"].is_string()) return false;
  const std::string id = answer["request"].get<std::string>();
  if (id.rfind(idPrefix_ + "-", 0) != 0) return false;
  auto it = stations_.find(station);
  if (it == stations_.end() || it->second.asked != id) return true;  // a late answer, asked again since
  Station& s = it->second;
  s.asked.clear();
  if (answer.value("status", std::string()) != "accepted") {
    s.silent = true;  // its store cannot be read now: again later, or when it comes back
    s.silentUntil = now + kSilentRetry;
    return true;
  }
  const std::int64_t count = answer.value("count", std::int64_t{0});
  const std::int64_t last = answer.value("last", std::int64_t{0});
  Range& r = s.ranges.front();
  const auto came = std::distance(s.seen.lower_bound(r.from), s.seen.upper_bound(last));
  if (count > came && ++s.shortTimes <= kShortRetries) return true;  // some were lost on the way: the same again
  s.shortTimes = 0;
  r.events += count;
  if (r.to == kOpen) r.to = std::max(newestSeen, last);  // never chasing the live ones
  if (count > 0 && last >= r.from && last < r.to) {
    r.from = last + 1;  // the next batch
    return true;
  }
  done = Done{station, r.firstFrom, r.to, r.gap, r.events};
  s.ranges.pop_front();
  return true;
}

void ReplayPlanner::Saw(const std::string& station, std::int64_t seq) {
  auto it = stations_.find(station);
  if (it == stations_.end() || it->second.asked.empty()) return;
  Station& s = it->second;
  if (seq >= s.ranges.front().from && seq <= s.ranges.front().to) s.seen.insert(seq);
}

std::size_t ReplayPlanner::Waiting() const {
  std::size_t n = 0;
  for (const auto& [name, s] : stations_) n += s.ranges.size();
  return n;
}

}  // namespace pelvaron
