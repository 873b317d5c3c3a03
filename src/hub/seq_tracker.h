#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "hub/hub_event.h"
#include "hub/hub_store.h"

namespace pelvaron {

// Notices numbers a console's run skipped. Within one run a console numbers
// its events one by one; a new run starts with "console-started" past the
// numbers the last run reserved, which is no gap. A number at or below the
// highest seen is a repeat (or a late one) and no gap either.
class SeqTracker {
 public:
  // What the store already holds: the highest seq of each station.
  void Know(const std::map<std::string, std::int64_t>& last);
  struct Seen {
    bool newest = false;          // above every number seen of its station
    std::optional<SeqGap> gap;    // the gap it closes, told once
  };
  Seen See(const HubEvent& event, std::int64_t now);
  // The highest number of each station, stored or seen.
  const std::map<std::string, std::int64_t>& Last() const { return last_; }

 private:
  std::map<std::string, std::int64_t> last_;
};

}  // namespace pelvaron
