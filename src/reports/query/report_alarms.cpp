// The report's alarms: the alarm queue's history replayed as the queue held
// it, so that an alarm is counted once however often it repeated.
#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>

#include "reports/query/report_rows.h"
#include "store/event_schema.h"

namespace pelvaron {

namespace {

using Row = ReportRow;

// An acknowledgement (the first counts), an action or the close (the first
// counts) of an alarm. True when it closed it.
bool ApplyHandling(ReportAlarm& a, const Row& r) {
  if (r.role == kAcknowledgementRole && !a.acknowledged) {
    a.acknowledged = r.time;
    a.ackOperator = r.operatorName;
  } else if (r.role == kActionRole) {
    a.actions.push_back({r.time, r.command, r.detail, r.operatorName});
  } else if (r.role == kCloseRole && !a.closed) {
    a.closed = r.time;
    a.closeOperator = r.operatorName;
    a.outcome = r.command;
    a.outcomeNote = r.detail;
    return true;
  }
  return false;
}

// Replays the range's rows as the queue took them: an alarm of a priority
// that waits for acknowledgement opens an entry unless one of its address and
// key is open; its close ends it. Acknowledgements, actions and closes name
// the entry by the number of an event it counts. Whether an entry was open
// when the range began is asked of the store only for an alarm that nothing
// names as an alarm of its own (nobody handled it): mostly nothing is asked.
class Replay {
 public:
  using OpenAtFrom = std::function<bool(const Row&)>;

  Replay(const PriorityTable& table, const ReportSource& source, OpenAtFrom openAtFrom)
      : table_(table), source_(source), openAtFrom_(std::move(openAtFrom)) {}

  void Apply(const Row& r) {
    key_.assign(r.station).append(1, '\x1f').append(r.address).append(1, '\x1f').append(r.key);
    if (r.role == 1) {
      const Priority* p = table_.At(table_.Find(r.priority));
      if (p == nullptr || p->handling != AlarmHandling::Acknowledge) return;
      const auto [state, first] = keys_.try_emplace(key_, kNone);
      // The console named it: an alarm of its own, whatever came before.
      const bool named = source_.Named(r);
      if (!named && state->second != kNone) {
        if (state->second != kBefore) bySeq_.emplace(r.seq, state->second);
        return;
      }
      if (!named && first && openAtFrom_(r)) {
        state->second = kBefore;
        return;
      }
      ReportAlarm a;
      a.id = r.seq;
      a.station = r.station;
      a.address = r.address;
      a.priority = r.priority;
      a.priorityTitle = table_.TitleOf(r.priority);
      a.text = r.text;
      a.time = r.time;
      alarms_.push_back(std::move(a));
      alarmKeys_.push_back(&*state);
      state->second = alarms_.size() - 1;
      bySeq_.emplace(r.seq, alarms_.size() - 1);
      return;
    }
    if (r.role < kAcknowledgementRole || r.role > kCloseRole) return;
    const std::size_t* entry = Named(r);
    if (entry == nullptr) {
      // The close of an alarm raised before the range.
      if (auto state = keys_.find(key_); r.role == kCloseRole && state != keys_.end() && state->second == kBefore) {
        state->second = kNone;
      }
      return;
    }
    if (ApplyHandling(alarms_[*entry], r) && alarmKeys_[*entry]->second == *entry) alarmKeys_[*entry]->second = kNone;
  }

  std::vector<ReportAlarm>& alarms() { return alarms_; }

 private:
  // The alarm that counts the event numbered ref at the row's console.
  const std::size_t* Named(const Row& r) const {
    const auto [first, last] = bySeq_.equal_range(r.ref);
    for (auto it = first; it != last; ++it) {
      if (alarms_[it->second].station == r.station) return &it->second;
    }
    return nullptr;
  }

  // What a key's state holds besides the index of its open alarm.
  static constexpr std::size_t kBefore = SIZE_MAX;     // open since before the range
  static constexpr std::size_t kNone = SIZE_MAX - 1;  // none open
  using KeyState = std::pair<const std::string, std::size_t>;

  const PriorityTable& table_;
  const ReportSource& source_;
  OpenAtFrom openAtFrom_;
  std::vector<ReportAlarm> alarms_;
  // Station, address and key of an alarm, joined.
  std::string key_;
  std::unordered_map<std::string, std::size_t> keys_;  // each key met, and its open alarm
  std::vector<KeyState*> alarmKeys_;                    // each alarm's key (nodes stay where they are)
  // The events each alarm counts, by number (consoles of one store number alike).
  std::unordered_multimap<std::uint64_t, std::size_t> bySeq_;
};

}  // namespace

Result<std::vector<ReportAlarm>> ReadReportAlarms(ReportSource& source, const PriorityTable& table, std::int64_t since,
                                                  std::int64_t from, std::int64_t to,
                                                  const std::vector<std::string>& addresses) {
  if (Result<> named = source.LoadNamed(from, to); !named) return named.problem();
  // Whether an alarm of the row's address and key was raised, and not closed,
  // before the range: the latest of them in the days before tells.
  std::optional<Problem> failed;
  auto openAtFrom = [&](const Row& r) {
    bool open = false;
    Result<> read = source.KeyHistory(r, since, from, [&](const Row& b) {
      if (b.role == kCloseRole) return false;
      const Priority* p = table.At(table.Find(b.priority));
      open = p != nullptr && p->handling == AlarmHandling::Acknowledge;
      return !open;
    });
    if (!read) failed = read.problem();
    return read && open;
  };
  Replay replay(table, source, openAtFrom);
  // Restores and what the table only logs change nothing: left in the store.
  std::vector<std::string> waiting;
  for (const Priority& p : table.priorities()) {
    if (p.handling == AlarmHandling::Acknowledge) waiting.push_back(p.name);
  }
  Result<> scanned = source.Alarms(from, to, addresses, waiting, [&](const Row& r) {
    replay.Apply(r);
    return !failed;
  });
  if (failed) return *failed;
  if (!scanned) return scanned.problem();
  std::vector<ReportAlarm> raised = std::move(replay.alarms());
  // What was done after the range about an alarm of the range, found by the
  // number it names.
  for (ReportAlarm& a : raised) {
    if (a.closed) continue;
    Result<> later = source.HandlingAfter(a.station, a.id, to, [&a](const Row& r) {
      ApplyHandling(a, r);
      return true;
    });
    if (!later) return later.problem();
  }
  return raised;
}

}  // namespace pelvaron
