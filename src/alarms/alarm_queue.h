#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "alarms/priority_table.h"

namespace pelvaron {

// Something an operator did about an alarm, stamped.
struct AlarmActionRecord {
  std::int64_t time = 0;
  std::string code;    // kAlarmActions
  std::string detail;  // whom, what came of it, a note
  std::string operatorName;
};

// One alarm waiting for the operator: the first event that raised it and
// what has happened to it since. It waits until it is closed: acknowledged,
// it is seen and in hand, its actions recorded.
struct AlarmEntry {
  std::uint64_t id = 0;  // the number of the event that raised it: what acknowledgements name
  int priority = -1;     // index into the priority table
  std::string address;   // the object's address; empty for the receiver's own
  std::string key;       // with the address, what its repeats and its restore share
  std::string text;      // the event's text
  std::int64_t firstTime = 0;  // calendar seconds
  std::int64_t lastTime = 0;   // its latest repeat
  int repeats = 0;             // how often it came again while waiting
  bool restored = false;       // its restore came; it still waits when it needs acknowledgement
  std::int64_t restoreTime = 0;
  bool needsAck = false;
  std::uint64_t lastSeq = 0;
  bool acknowledged = false;  // seen: no longer sounds, waits to be closed
  std::int64_t ackTime = 0;
  std::string ackOperator;
  std::vector<AlarmActionRecord> actions;  // in the order they were done
  // Numbers of the events it counts (the first ones, bounded), so that an
  // acknowledgement that names a repeat finds it.
  std::vector<std::uint64_t> seqs;
};

// The queue of alarms: raised by the events that the priority table calls
// alarms, repeats counted, closed by their restores, ended by an
// acknowledgement. Plain data, no clock of its own: times are the events'.
class AlarmQueue {
 public:
  static constexpr std::size_t kKeptSeqs = 256;

  explicit AlarmQueue(const PriorityTable& table) : table_(table) {}

  struct Change {
    bool changed = false;
    bool raise = false;  // a new alarm whose priority brings the window to the front
    bool sounds = false; // an alarm that waits for acknowledgement came, new or again
  };
  // An event and its class (the table's Classify). Information changes
  // nothing; an alarm opens an entry or repeats the open one of its key; a
  // restore closes it (and ends it when it needs no acknowledgement).
  Change Apply(const Event& event, const AlarmClass& cls);

  // The entry that the event numbered ref raised or repeated. When no entry
  // counts that number, an entry of the same address whose numbers span it
  // (its list of numbers is bounded); nothing when none matches.
  AlarmEntry* Named(std::uint64_t ref, std::string_view address = {});
  // Marks that entry acknowledged (it stays, in hand, until it is closed).
  // Returns it as it was before, or nothing when none matches or it was
  // acknowledged already.
  std::optional<AlarmEntry> Acknowledge(std::uint64_t ref, std::string_view address = {}, std::int64_t time = 0,
                                        const std::string& operatorName = {});
  // Records an action on that entry; false when none matches.
  bool AddAction(std::uint64_t ref, AlarmActionRecord action, std::string_view address = {});
  // Ends that entry. Returns it, or nothing when none matches.
  std::optional<AlarmEntry> Close(std::uint64_t ref, std::string_view address = {});

  // Entries by priority, then the longest waiting first.
  std::vector<AlarmEntry> Sorted() const;
  const AlarmEntry* Find(std::uint64_t id) const;
  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  // True while an entry that needs acknowledgement waits unacknowledged.
  bool NeedsSound() const;
  const PriorityTable& table() const { return table_; }

 private:
  const PriorityTable& table_;
  std::vector<AlarmEntry> entries_;  // in the order they were raised
};

}  // namespace pelvaron
