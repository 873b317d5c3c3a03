#include "alarms/alarm_queue.h"

#include <algorithm>

namespace pelvaron {

AlarmQueue::Change AlarmQueue::Apply(const Event& event, const AlarmClass& cls) {
  Change change;
  const Priority* priority = table_.At(cls.priority);
  if (priority == nullptr || cls.role == AlarmRole::None) return change;
  auto open = std::find_if(entries_.begin(), entries_.end(), [&](const AlarmEntry& e) {
    return e.address == event.address && e.key == cls.key;
  });

  if (cls.role == AlarmRole::Restore) {
    if (open == entries_.end() || open->restored) return change;
    change.changed = true;
    if (!open->needsAck) {
      entries_.erase(open);
      return change;
    }
    open->restored = true;
    open->restoreTime = event.time;
    return change;
  }

  if (priority->handling == AlarmHandling::Log) return change;
  change.changed = true;
  change.sounds = priority->handling == AlarmHandling::Acknowledge;
  if (open != entries_.end()) {
    // A repeat while it waits: counted, and live again if it had been restored.
    ++open->repeats;
    open->lastTime = event.time;
    open->lastSeq = event.seq;
    open->restored = false;
    open->restoreTime = 0;
    if (open->seqs.size() < kKeptSeqs) open->seqs.push_back(event.seq);
    return change;
  }
  AlarmEntry entry;
  entry.id = event.seq;
  entry.priority = cls.priority;
  entry.address = event.address;
  entry.key = cls.key;
  entry.text = event.text;
  entry.firstTime = entry.lastTime = event.time;
  entry.needsAck = priority->handling == AlarmHandling::Acknowledge;
  entry.lastSeq = event.seq;
  entry.seqs.push_back(event.seq);
  entries_.push_back(std::move(entry));
  change.raise = priority->raise;
  return change;
}

AlarmEntry* AlarmQueue::Named(std::uint64_t ref, std::string_view address) {
  auto it = std::find_if(entries_.begin(), entries_.end(), [&](const AlarmEntry& e) {
    return std::find(e.seqs.begin(), e.seqs.end(), ref) != e.seqs.end();
  });
  if (it == entries_.end() && !address.empty()) {
    it = std::find_if(entries_.begin(), entries_.end(), [&](const AlarmEntry& e) {
      return e.address == address && e.seqs.size() >= kKeptSeqs && ref > e.id && ref <= e.lastSeq;
    });
  }
  return it == entries_.end() ? nullptr : &*it;
}

std::optional<AlarmEntry> AlarmQueue::Acknowledge(std::uint64_t ref, std::string_view address, std::int64_t time,
                                                  const std::string& operatorName) {
  AlarmEntry* entry = Named(ref, address);
  if (entry == nullptr || entry->acknowledged) return std::nullopt;
  AlarmEntry before = *entry;
  entry->acknowledged = true;
  entry->ackTime = time;
  entry->ackOperator = operatorName;
  return before;
}

bool AlarmQueue::AddAction(std::uint64_t ref, AlarmActionRecord action, std::string_view address) {
  AlarmEntry* entry = Named(ref, address);
  if (entry == nullptr) return false;
  entry->actions.push_back(std::move(action));
  return true;
}

std::optional<AlarmEntry> AlarmQueue::Close(std::uint64_t ref, std::string_view address) {
  AlarmEntry* entry = Named(ref, address);
  if (entry == nullptr) return std::nullopt;
  AlarmEntry closed = std::move(*entry);
  entries_.erase(entries_.begin() + (entry - entries_.data()));
  return closed;
}

std::vector<AlarmEntry> AlarmQueue::Sorted() const {
  std::vector<AlarmEntry> sorted = entries_;
  std::stable_sort(sorted.begin(), sorted.end(), [](const AlarmEntry& a, const AlarmEntry& b) {
    // What nobody has acknowledged yet comes before what is in hand.
    if (a.acknowledged != b.acknowledged) return !a.acknowledged;
    if (a.priority != b.priority) return a.priority < b.priority;
    if (a.firstTime != b.firstTime) return a.firstTime < b.firstTime;
    return a.id < b.id;
  });
  return sorted;
}

const AlarmEntry* AlarmQueue::Find(std::uint64_t id) const {
  for (const AlarmEntry& e : entries_) {
    if (e.id == id) return &e;
  }
  return nullptr;
}

bool AlarmQueue::NeedsSound() const {
  return std::any_of(entries_.begin(), entries_.end(), [](const AlarmEntry& e) { return e.needsAck && !e.acknowledged; });
}

}  // namespace pelvaron
