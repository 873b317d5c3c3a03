#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "events/event.h"
#include "outputs/object_states.h"
#include "outputs/station_state.h"

namespace pelvaron {

// The retained messages of one station on the broker: what StationState and
// the discovery configs say should be there, what the broker keeps now, and
// what is published to go from one to the other. The states are set from
// any thread; the rest is the network thread's own.
class RetainedStates {
 public:
  // base: "pelvaron/<station>/"; discoveryPrefix empty: no discovery messages.
  RetainedStates(std::string base, std::string station, std::string discoveryPrefix);

  // Any thread.
  void Apply(const Event& event);
  void SetObjects(std::vector<ObjectStatus> objects);
  // Something may differ from what the broker keeps.
  bool Changed() const { return changed_.load(); }

  // A new session: what the broker keeps is not known until it has told
  // (on subscribing to Filters()), so everything is published again.
  void NewSession();
  // Publish is due (a new session, once it is set up).
  void MarkChanged() { changed_ = true; }
  // What an earlier run may have left that this console would remove.
  std::vector<std::string> Filters() const;
  // The broker told what it kept from before this session.
  void KeptFromBefore(const std::string& topic, std::string payload);

  // Publishes what differs, in order: stale topics emptied first, then what
  // is new or changed. Stops at the first publish that fails (false).
  using Publisher = std::function<bool(const std::string& topic, const std::string& payload)>;
  void Publish(const Publisher& publish);

 private:
  std::map<std::string, std::string> Wanted(bool& objectsKnown);

  const std::string base_;
  const std::string station_;
  const std::string discoveryPrefix_;

  std::mutex mutex_;  // guards state_
  StationState state_;
  std::atomic<bool> changed_{false};

  // What the broker keeps in this session by topic, as published, or as it
  // told on subscribing (what an earlier run left).
  std::map<std::string, std::string> kept_;
};

}  // namespace pelvaron
