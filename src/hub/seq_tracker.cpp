#include "hub/seq_tracker.h"

namespace pelvaron {

void SeqTracker::Know(const std::map<std::string, std::int64_t>& last) {
  for (const auto& [station, seq] : last) {
    std::int64_t& known = last_[station];
    if (seq > known) known = seq;
  }
}

SeqTracker::Seen SeqTracker::See(const HubEvent& event, std::int64_t now) {
  const auto [it, first] = last_.try_emplace(event.station, event.seq);
  std::int64_t& last = it->second;
  if (first) return {true, {}};
  if (event.seq <= last) return {};
  const std::int64_t before = last;
  last = event.seq;
  if (event.seq == before + 1 || event.kind == "console-started") return {true, {}};
  return {true, SeqGap{event.station, before, event.seq, now}};
}

}  // namespace pelvaron
