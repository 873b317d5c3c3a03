// The report's alarms: the alarm queue's history replayed as the queue held
// it, so that an alarm is counted once however often it repeated.
#include <sqlite3.h>

#include <map>
#include <tuple>
#include <unordered_map>

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

Row ReadRow(sqlite3_stmt* s) {
  Row r;
  r.seq = static_cast<std::uint64_t>(sqlite3_column_int64(s, 0));
  r.time = sqlite3_column_int64(s, 1);
  r.station = ColumnText(s, 2);
  r.address = ColumnText(s, 3);
  r.text = ColumnText(s, 4);
  r.command = ColumnText(s, 5);
  r.detail = ColumnText(s, 6);
  r.ref = static_cast<std::uint64_t>(sqlite3_column_int64(s, 7));
  r.priority = ColumnText(s, 8);
  r.role = sqlite3_column_int(s, 9);
  r.key = ColumnText(s, 10);
  r.operatorName = ColumnText(s, 11);
  return r;
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

// Replays rows in the order they were stored: an alarm of a priority that
// waits for acknowledgement opens an entry unless one of its address and key
// is open; its close ends it. Acknowledgements, actions and closes name the
// entry by the number of an event it counts.
class Replay {
 public:
  explicit Replay(const PriorityTable& table) : table_(table) {}

  void Apply(const Row& r) {
    if (r.role == 1) {
      const Priority* p = table_.At(table_.Find(r.priority));
      if (p == nullptr || p->handling != AlarmHandling::Acknowledge) return;
      const auto key = std::make_tuple(r.station, r.address, r.key);
      if (auto open = open_.find(key); open != open_.end()) {
        bySeq_[{r.station, r.seq}] = open->second;
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
      keys_.push_back(key);
      open_[key] = alarms_.size() - 1;
      bySeq_[{r.station, r.seq}] = alarms_.size() - 1;
      return;
    }
    if (r.role < kAcknowledgementRole || r.role > kCloseRole) return;
    const auto named = bySeq_.find({r.station, r.ref});
    if (named == bySeq_.end()) return;
    if (ApplyHandling(alarms_[named->second], r)) open_.erase(keys_[named->second]);
  }

  std::vector<ReportAlarm>& alarms() { return alarms_; }

 private:
  struct SeqHash {
    std::size_t operator()(const std::pair<std::string, std::uint64_t>& k) const {
      return std::hash<std::string>()(k.first) ^ std::hash<std::uint64_t>()(k.second);
    }
  };
  using Key = std::tuple<std::string, std::string, std::string>;
  const PriorityTable& table_;
  std::vector<ReportAlarm> alarms_;
  std::vector<Key> keys_;  // each alarm's
  std::map<Key, std::size_t> open_;
  std::unordered_map<std::pair<std::string, std::uint64_t>, std::size_t, SeqHash> bySeq_;
};

}  // namespace

Result<std::vector<ReportAlarm>> ReadReportAlarms(EventStore& store, const PriorityTable& table, std::int64_t since,
                                                  std::int64_t from, std::int64_t to,
                                                  const std::vector<std::string>& addresses) {
  Replay replay(table);
  {
    const std::string sql = std::string("SELECT ") + kColumns +
                            " FROM events WHERE alarm <> 0 AND time >= ?1 AND time <= ?2" +
                            AddressCondition(addresses, 3) + " ORDER BY id";
    SqlStatement s;
    int rc = PrepareOnce(store.handle(), sql.c_str(), -1, s);
    if (rc != SQLITE_OK) return ReportStoreFailure(store, rc, "alarms");
    sqlite3_bind_int64(s.get(), 1, since);
    sqlite3_bind_int64(s.get(), 2, to);
    BindAddresses(s.get(), addresses, 3);
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) replay.Apply(ReadRow(s.get()));
    if (rc != SQLITE_DONE) return ReportStoreFailure(store, rc, "alarms");
  }
  std::vector<ReportAlarm> raised;
  for (ReportAlarm& a : replay.alarms()) {
    if (a.time >= from) raised.push_back(std::move(a));
  }
  // What was done after the range about an alarm of the range, found by the
  // number it names.
  const std::string sql = std::string("SELECT ") + kColumns +
                          " FROM events WHERE ref = ?1 AND ref <> 0 AND alarm IN (3, 4, 5) AND time > ?2 AND station = ?3"
                          " ORDER BY id";
  SqlStatement later;
  int rc = PrepareOnce(store.handle(), sql.c_str(), -1, later);
  if (rc != SQLITE_OK) return ReportStoreFailure(store, rc, "alarms");
  for (ReportAlarm& a : raised) {
    if (a.closed) continue;
    sqlite3_reset(later.get());
    sqlite3_bind_int64(later.get(), 1, static_cast<sqlite3_int64>(a.id));
    sqlite3_bind_int64(later.get(), 2, to);
    BindText(later.get(), 3, a.station);
    while ((rc = sqlite3_step(later.get())) == SQLITE_ROW) ApplyHandling(a, ReadRow(later.get()));
    if (rc != SQLITE_DONE) return ReportStoreFailure(store, rc, "alarms");
  }
  return raised;
}

}  // namespace pelvaron
