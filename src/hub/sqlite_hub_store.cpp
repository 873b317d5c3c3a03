#include "hub/sqlite_hub_store.h"

#include <sqlite3.h>

#include <cerrno>

#include "store/sqlite_handles.h"
#include "store/sql_text.h"
#include "store/store_problem.h"

namespace pelvaron {

namespace {

constexpr char kSchema[] =
    "PRAGMA journal_mode = WAL;"
    "PRAGMA synchronous = NORMAL;"
    "CREATE TABLE IF NOT EXISTS events(station TEXT NOT NULL, seq INTEGER NOT NULL, time INTEGER NOT NULL,"
    " time_text TEXT NOT NULL, kind TEXT NOT NULL, address TEXT, text TEXT, command TEXT, detail TEXT,"
    " ref INTEGER, operator TEXT, json TEXT NOT NULL, priority TEXT NOT NULL DEFAULT '',"
    " alarm INTEGER NOT NULL DEFAULT 0, alarm_key TEXT NOT NULL DEFAULT '', PRIMARY KEY (station, seq));"
    "CREATE INDEX IF NOT EXISTS events_object ON events(station, address, time);"
    "CREATE INDEX IF NOT EXISTS events_time ON events(time);"
    "CREATE TABLE IF NOT EXISTS gaps(station TEXT NOT NULL, after_seq INTEGER NOT NULL,"
    " before_seq INTEGER NOT NULL, seen_at INTEGER NOT NULL, PRIMARY KEY (station, after_seq));";

// A table made before the hub kept what the reports need gains it; the
// consoles' handling of alarms already stored is known by its kind.
constexpr char kAddAlarmColumns[] =
    "ALTER TABLE events ADD COLUMN priority TEXT NOT NULL DEFAULT '';"
    "ALTER TABLE events ADD COLUMN alarm INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE events ADD COLUMN alarm_key TEXT NOT NULL DEFAULT '';"
    "UPDATE events SET alarm = CASE kind WHEN 'alarm-acknowledged' THEN 3 WHEN 'alarm-action' THEN 4 ELSE 5 END"
    " WHERE kind IN ('alarm-acknowledged', 'alarm-action', 'alarm-closed');";
// The reports' reads: a station's alarms and their handling by time.
constexpr char kAlarmIndex[] = "CREATE INDEX IF NOT EXISTS events_alarms ON events(station, time) WHERE alarm <> 0;";

constexpr char kInsertEvent[] =
    "INSERT INTO events(station, seq, time, time_text, kind, address, text, command, detail, ref, operator, json,"
    " priority, alarm, alarm_key) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15)"
    " ON CONFLICT DO NOTHING";
constexpr char kInsertGap[] =
    "INSERT INTO gaps(station, after_seq, before_seq, seen_at) VALUES (?1, ?2, ?3, ?4) ON CONFLICT DO NOTHING";
constexpr char kColumns[] = "station, seq, time, time_text, kind, address, text, command, detail, ref, operator, json";

void BindText(sqlite3_stmt* stmt, int at, const std::string& text, bool emptyIsNull = true) {
  if (text.empty() && emptyIsNull) {
    sqlite3_bind_null(stmt, at);
  } else {
    sqlite3_bind_text(stmt, at, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
  }
}

class SqliteHubStore final : public HubStore {
 public:
  explicit SqliteHubStore(std::string path) : path_(std::move(path)) {}

  Result<> Open() {
    sqlite3* opened = nullptr;
    const int rc = sqlite3_open_v2(path_.c_str(), &opened,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    db_.reset(opened);
    if (rc != SQLITE_OK) return Fail(rc);
    sqlite3_busy_timeout(db_.get(), 5000);
    if (const int schema = sqlite3_exec(db_.get(), kSchema, nullptr, nullptr, nullptr); schema != SQLITE_OK)
      return Fail(schema);
    if (Result<> migrated = AddAlarmColumns(); !migrated) return migrated;
    if (const int index = sqlite3_exec(db_.get(), kAlarmIndex, nullptr, nullptr, nullptr); index != SQLITE_OK)
      return Fail(index);
    sqlite3_stmt* stmt = nullptr;
    if (const int prep = sqlite3_prepare_v3(db_.get(), kInsertEvent, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
        prep != SQLITE_OK)
      return Fail(prep);
    insertEvent_.reset(stmt);
    if (const int prep = sqlite3_prepare_v3(db_.get(), kInsertGap, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
        prep != SQLITE_OK)
      return Fail(prep);
    insertGap_.reset(stmt);
    return {};
  }

  Result<std::size_t> Write(const std::vector<HubEvent>& events, const std::vector<SeqGap>& gaps) override {
    if (int rc = sqlite3_exec(db_.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr); rc != SQLITE_OK)
      return Fail(rc);
    Result<std::size_t> written = WriteRows(events, gaps);
    if (written) {
      if (int rc = sqlite3_exec(db_.get(), "COMMIT", nullptr, nullptr, nullptr); rc != SQLITE_OK) written = Fail(rc);
    }
    if (!written) sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    return written;
  }

  Result<std::map<std::string, std::int64_t>> LastSeqs() override {
    SqlStatement stmt;
    if (int rc = PrepareOnce(db_.get(), "SELECT station, max(seq) FROM events GROUP BY station", -1, stmt);
        rc != SQLITE_OK)
      return Fail(rc);
    std::map<std::string, std::int64_t> last;
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) last[ColumnText(stmt.get(), 0)] = sqlite3_column_int64(stmt.get(), 1);
    if (rc != SQLITE_DONE) return Fail(rc);
    return last;
  }

  Result<std::vector<HubEvent>> ObjectEvents(const std::string& station, const std::string& address,
                                             std::int64_t from, std::int64_t to) override {
    SqlStatement stmt;
    const std::string sql = std::string("SELECT ") + kColumns +
                            " FROM events WHERE station = ?1 AND address = ?2 AND time >= ?3 AND time < ?4"
                            " ORDER BY time, seq";
    if (int rc = PrepareOnce(db_.get(), sql.c_str(), -1, stmt); rc != SQLITE_OK) return Fail(rc);
    BindText(stmt.get(), 1, station, false);
    BindText(stmt.get(), 2, address, false);
    sqlite3_bind_int64(stmt.get(), 3, from);
    sqlite3_bind_int64(stmt.get(), 4, to);
    std::vector<HubEvent> found;
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
      sqlite3_stmt* s = stmt.get();
      HubEvent& e = found.emplace_back();
      e.station = ColumnText(s, 0);
      e.seq = sqlite3_column_int64(s, 1);
      e.time = sqlite3_column_int64(s, 2);
      e.timeText = ColumnText(s, 3);
      e.kind = ColumnText(s, 4);
      e.address = ColumnText(s, 5);
      e.text = ColumnText(s, 6);
      e.command = ColumnText(s, 7);
      e.detail = ColumnText(s, 8);
      if (sqlite3_column_type(s, 9) != SQLITE_NULL) e.ref = sqlite3_column_int64(s, 9);
      e.operatorName = ColumnText(s, 10);
      e.json = ColumnText(s, 11);
    }
    if (rc != SQLITE_DONE) return Fail(rc);
    return found;
  }

  Result<std::vector<SeqGap>> Gaps() override {
    SqlStatement stmt;
    if (int rc = PrepareOnce(db_.get(), "SELECT station, after_seq, before_seq, seen_at FROM gaps ORDER BY station, after_seq",
                             -1, stmt);
        rc != SQLITE_OK)
      return Fail(rc);
    std::vector<SeqGap> gaps;
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
      gaps.push_back({ColumnText(stmt.get(), 0), sqlite3_column_int64(stmt.get(), 1), sqlite3_column_int64(stmt.get(), 2),
                      sqlite3_column_int64(stmt.get(), 3)});
    }
    if (rc != SQLITE_DONE) return Fail(rc);
    return gaps;
  }

  Result<> CloseGap(const SeqGap& gap) override {
    SqlStatement stmt;
    if (int rc = PrepareOnce(db_.get(), "DELETE FROM gaps WHERE station = ?1 AND after_seq = ?2 AND before_seq = ?3", -1,
                             stmt);
        rc != SQLITE_OK)
      return Fail(rc);
    BindText(stmt.get(), 1, gap.station, false);
    sqlite3_bind_int64(stmt.get(), 2, gap.afterSeq);
    sqlite3_bind_int64(stmt.get(), 3, gap.beforeSeq);
    if (int rc = sqlite3_step(stmt.get()); rc != SQLITE_DONE) return Fail(rc);
    return {};
  }

  Result<std::vector<std::int64_t>> Seqs(const std::string& station) override {
    SqlStatement stmt;
    if (int rc = PrepareOnce(db_.get(), "SELECT seq FROM events WHERE station = ?1 ORDER BY seq", -1, stmt); rc != SQLITE_OK)
      return Fail(rc);
    BindText(stmt.get(), 1, station, false);
    std::vector<std::int64_t> seqs;
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) seqs.push_back(sqlite3_column_int64(stmt.get(), 0));
    if (rc != SQLITE_DONE) return Fail(rc);
    return seqs;
  }

  std::string Where() const override { return path_; }

 private:
  Result<> AddAlarmColumns() {
    SqlStatement has;
    int rc = PrepareOnce(db_.get(), "SELECT 1 FROM pragma_table_info('events') WHERE name = 'alarm'", -1, has);
    if (rc != SQLITE_OK) return Fail(rc);
    rc = sqlite3_step(has.get());
    if (rc == SQLITE_ROW) return {};
    if (rc != SQLITE_DONE) return Fail(rc);
    if (rc = sqlite3_exec(db_.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr); rc != SQLITE_OK) return Fail(rc);
    rc = sqlite3_exec(db_.get(), kAddAlarmColumns, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_exec(db_.get(), "COMMIT", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return {};
    Problem failed = Fail(rc);
    sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    return failed;
  }

  Result<std::size_t> WriteRows(const std::vector<HubEvent>& events, const std::vector<SeqGap>& gaps) {
    std::size_t added = 0;
    sqlite3_stmt* s = insertEvent_.get();
    for (const HubEvent& e : events) {
      sqlite3_reset(s);
      BindText(s, 1, e.station, false);
      sqlite3_bind_int64(s, 2, e.seq);
      sqlite3_bind_int64(s, 3, e.time);
      BindText(s, 4, e.timeText, false);
      BindText(s, 5, e.kind, false);
      BindText(s, 6, e.address);
      BindText(s, 7, e.text);
      BindText(s, 8, e.command);
      BindText(s, 9, e.detail);
      if (e.ref) {
        sqlite3_bind_int64(s, 10, *e.ref);
      } else {
        sqlite3_bind_null(s, 10);
      }
      BindText(s, 11, e.operatorName);
      BindText(s, 12, e.json, false);
      BindText(s, 13, e.priority, false);
      sqlite3_bind_int(s, 14, e.alarmRole);
      BindText(s, 15, e.alarmKey, false);
      if (int rc = sqlite3_step(s); rc != SQLITE_DONE) {
        sqlite3_reset(s);
        return Fail(rc);
      }
      added += static_cast<std::size_t>(sqlite3_changes(db_.get()));
    }
    sqlite3_reset(s);
    sqlite3_stmt* g = insertGap_.get();
    for (const SeqGap& gap : gaps) {
      sqlite3_reset(g);
      BindText(g, 1, gap.station, false);
      sqlite3_bind_int64(g, 2, gap.afterSeq);
      sqlite3_bind_int64(g, 3, gap.beforeSeq);
      sqlite3_bind_int64(g, 4, gap.seenAt);
      if (int rc = sqlite3_step(g); rc != SQLITE_DONE) {
        sqlite3_reset(g);
        return Fail(rc);
      }
    }
    sqlite3_reset(g);
    return added;
  }

  Problem Fail(int rc) const {
    const int systemError = db_ ? sqlite3_system_errno(db_.get()) : 0;
    std::string cause = db_ ? sqlite3_errmsg(db_.get()) : sqlite3_errstr(rc);
    return Problem(StoreProblemText(rc, systemError), std::move(cause), rc);
  }

  std::string path_;
  SqlConnection db_;
  SqlStatement insertEvent_;
  SqlStatement insertGap_;
};

}  // namespace

Result<std::unique_ptr<HubStore>> OpenSqliteHubStore(const std::string& path) {
  auto store = std::make_unique<SqliteHubStore>(path);
  if (Result<> opened = store->Open(); !opened) return opened.problem();
  return std::unique_ptr<HubStore>(std::move(store));
}

}  // namespace pelvaron
