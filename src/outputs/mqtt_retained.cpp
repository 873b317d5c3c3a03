#include "outputs/mqtt_retained.h"

namespace pelvaron {

RetainedStates::RetainedStates(std::string base, std::string station, std::string discoveryPrefix)
    : base_(std::move(base)), station_(std::move(station)), discoveryPrefix_(std::move(discoveryPrefix)) {}

void RetainedStates::Apply(const Event& event) {
  std::lock_guard lock(mutex_);
  if (state_.Apply(event)) changed_ = true;
}

void RetainedStates::SetObjects(std::vector<ObjectStatus> objects) {
  std::lock_guard lock(mutex_);
  if (state_.SetObjects(std::move(objects))) changed_ = true;
}

void RetainedStates::NewSession() {
  // What an earlier run left of objects no longer registered is found by
  // looking, and removed once the console's list is known.
  kept_.clear();
}

std::vector<std::string> RetainedStates::Filters() const {
  std::vector<std::string> filters = {base_ + "object/+"};
  if (!discoveryPrefix_.empty()) filters.push_back(DiscoveryObjectFilter(discoveryPrefix_, station_));
  return filters;
}

void RetainedStates::KeptFromBefore(const std::string& topic, std::string payload) {
  if (kept_.count(topic) != 0) return;
  kept_[topic] = std::move(payload);
  changed_ = true;
}

std::map<std::string, std::string> RetainedStates::Wanted(bool& objectsKnown) {
  std::map<std::string, std::string> wanted;
  std::lock_guard lock(mutex_);
  objectsKnown = state_.ObjectsKnown();
  for (auto& [topic, payload] : state_.Retained()) wanted[base_ + topic] = std::move(payload);
  if (!discoveryPrefix_.empty())
    wanted.merge(DiscoveryMessages(discoveryPrefix_, station_, state_.Objects()));
  return wanted;
}

void RetainedStates::Publish(const Publisher& publish) {
  changed_ = false;
  bool objectsKnown = false;
  const std::map<std::string, std::string> wanted = Wanted(objectsKnown);
  // Until the console's list is known, nothing the broker keeps of objects is
  // taken for stale.
  if (objectsKnown) {
    for (auto it = kept_.begin(); it != kept_.end();) {
      if (wanted.count(it->first) != 0) {
        ++it;
        continue;
      }
      if (!publish(it->first, "")) return;
      it = kept_.erase(it);
    }
  }
  for (const auto& [topic, payload] : wanted) {
    auto it = kept_.find(topic);
    if (it != kept_.end() && it->second == payload) continue;
    if (!publish(topic, payload)) return;
    kept_[topic] = payload;
  }
}

}  // namespace pelvaron
