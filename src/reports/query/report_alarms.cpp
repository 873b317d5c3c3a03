// The report's alarms: the alarm queue's history replayed as the queue held
// it, so that an alarm is counted once however often it repeated.
#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <unordered_set>

#include "reports/query/report_rows.h"
#include "store/event_schema.h"
#include "store/sql_text.h"

namespace pelvaron {

namespace {

struct Row {
  std::uint64_t seq = 0;
  std::int64_t time = 0;
  std::string station, address, text, command, detail, priority, key, operatorName;
  std::uint64_t ref = 0;
  int role = 0;
};

constexpr char kColumns[] = "seq, time, station, address, text, command, detail, ref, priority, alarm, alarm_key, operator";

void Assign(std::string& out, sqlite3_stmt* s, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
  out.assign(text != nullptr ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(s, column)));
}

// Into the same row each time: its strings keep their room.
void ReadRow(sqlite3_stmt* s, Row& r) {
  r.seq = static_cast<std::uint64_t>(sqlite3_column_int64(s, 0));
  r.time = sqlite3_column_int64(s, 1);
  Assign(r.station, s, 2);
  Assign(r.address, s, 3);
  Assign(r.text, s, 4);
  Assign(r.command, s, 5);
  Assign(r.detail, s, 6);
  r.ref = static_cast<std::uint64_t>(sqlite3_column_int64(s, 7));
  Assign(r.priority, s, 8);
  r.role = sqlite3_column_int(s, 9);
  Assign(r.key, s, 10);
  Assign(r.operatorName, s, 11);
}

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

  Replay(const PriorityTable& table, std::unordered_set<std::uint64_t> named, OpenAtFrom openAtFrom)
      : table_(table), named_(std::move(named)), openAtFrom_(std::move(openAtFrom)) {}

  void Apply(const Row& r) {
    key_.assign(r.station).append(1, '\x1f').append(r.address).append(1, '\x1f').append(r.key);
    if (r.role == 1) {
      const Priority* p = table_.At(table_.Find(r.priority));
      if (p == nullptr || p->handling != AlarmHandling::Acknowledge) return;
      const auto [state, first] = keys_.try_emplace(key_, kNone);
      // The console named it: an alarm of its own, whatever came before.
      const bool named = named_.count(r.seq) > 0;
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
  std::unordered_set<std::uint64_t> named_;
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

Result<std::vector<ReportAlarm>> ReadReportAlarms(EventStore& store, const PriorityTable& table, std::int64_t since,
                                                  std::int64_t from, std::int64_t to,
                                                  const std::vector<std::string>& addresses) {
  sqlite3* db = store.handle();
  // Every alarm an acknowledgement, an action or a close names, in the range
  // or after it: read from the index alone.
  std::unordered_set<std::uint64_t> named;
  {
    SqlStatement s;
    int rc = PrepareOnce(db,
                         "SELECT ref FROM events WHERE ref <> 0 AND ref >= (SELECT seq FROM events WHERE alarm <> 0"
                         " AND time >= ?1 AND time <= ?2 ORDER BY time, id LIMIT 1)",
                         -1, s);
    if (rc != SQLITE_OK) return ReportStoreFailure(store, rc, "alarms");
    sqlite3_bind_int64(s.get(), 1, from);
    sqlite3_bind_int64(s.get(), 2, to);
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) named.insert(static_cast<std::uint64_t>(sqlite3_column_int64(s.get(), 0)));
    if (rc != SQLITE_DONE) return ReportStoreFailure(store, rc, "alarms");
  }
  // Whether an alarm of the row's address and key was raised, and not closed,
  // before the range: the latest of them in the days before tells.
  SqlStatement before;
  int rc = PrepareOnce(db,
                       "SELECT alarm, priority FROM events WHERE address = ?1 AND time >= ?2 AND time < ?3"
                       " AND alarm_key = ?4 AND alarm IN (1, 5) AND station = ?5 ORDER BY time DESC, id DESC",
                       -1, before);
  if (rc != SQLITE_OK) return ReportStoreFailure(store, rc, "alarms");
  int failed = SQLITE_OK;
  auto openAtFrom = [&](const Row& r) {
    sqlite3_stmt* b = before.get();
    sqlite3_reset(b);
    BindText(b, 1, r.address);
    sqlite3_bind_int64(b, 2, since);
    sqlite3_bind_int64(b, 3, from);
    BindText(b, 4, r.key);
    BindText(b, 5, r.station);
    int step;
    while ((step = sqlite3_step(b)) == SQLITE_ROW) {
      if (sqlite3_column_int(b, 0) == kCloseRole) return false;
      const Priority* p = table.At(table.Find(ColumnText(b, 1)));
      if (p != nullptr && p->handling == AlarmHandling::Acknowledge) return true;
    }
    if (step != SQLITE_DONE) failed = step;
    return false;
  };
  Replay replay(table, std::move(named), openAtFrom);
  Row row;
  {
    // In the order of the index: by time, then as stored.
    // Restores and what the table only logs change nothing: left in the store.
    std::vector<std::string> waiting;
    for (const Priority& p : table.priorities()) {
      if (p.handling == AlarmHandling::Acknowledge) waiting.push_back(p.name);
    }
    const int first = 3 + static_cast<int>(addresses.size());
    std::string sql = std::string("SELECT ") + kColumns +
                      " FROM events WHERE alarm <> 0 AND time >= ?1 AND time <= ?2" +
                      AddressCondition(addresses, 3) + " AND (alarm >= 3";
    for (std::size_t i = 0; i < waiting.size(); ++i) {
      sql += (i == 0 ? " OR (alarm = 1 AND priority IN (?" : ", ?") + std::to_string(first + static_cast<int>(i));
    }
    sql += waiting.empty() ? ")" : ")))";
    sql += " ORDER BY time, id";
    SqlStatement s;
    rc = PrepareOnce(db, sql.c_str(), -1, s);
    if (rc != SQLITE_OK) return ReportStoreFailure(store, rc, "alarms");
    sqlite3_bind_int64(s.get(), 1, from);
    sqlite3_bind_int64(s.get(), 2, to);
    BindAddresses(s.get(), addresses, 3);
    BindAddresses(s.get(), waiting, first);
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW && failed == SQLITE_OK) {
      ReadRow(s.get(), row);
      replay.Apply(row);
    }
    if (failed != SQLITE_OK) return ReportStoreFailure(store, failed, "alarms");
    if (rc != SQLITE_DONE) return ReportStoreFailure(store, rc, "alarms");
  }
  std::vector<ReportAlarm> raised = std::move(replay.alarms());
  // What was done after the range about an alarm of the range, found by the
  // number it names.
  const std::string sql = std::string("SELECT ") + kColumns +
                          " FROM events WHERE ref = ?1 AND ref <> 0 AND alarm IN (3, 4, 5) AND time > ?2 AND station = ?3"
                          " ORDER BY id";
  SqlStatement later;
  rc = PrepareOnce(db, sql.c_str(), -1, later);
  if (rc != SQLITE_OK) return ReportStoreFailure(store, rc, "alarms");
  for (ReportAlarm& a : raised) {
    if (a.closed) continue;
    sqlite3_reset(later.get());
    sqlite3_bind_int64(later.get(), 1, static_cast<sqlite3_int64>(a.id));
    sqlite3_bind_int64(later.get(), 2, to);
    BindText(later.get(), 3, a.station);
    while ((rc = sqlite3_step(later.get())) == SQLITE_ROW) {
      ReadRow(later.get(), row);
      ApplyHandling(a, row);
    }
    if (rc != SQLITE_DONE) return ReportStoreFailure(store, rc, "alarms");
  }
  return raised;
}

}  // namespace pelvaron
