#include "store/event_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/cp1251.h"
#include "core/create_file.h"
#include "store/history_format.h"

namespace pelvaron {

namespace {

// 2: an acknowledgement's row keeps the key of the alarm it ended, so that it
// covers every event of that alarm, its repeats too.
constexpr int kSchemaVersion = 2;

// Role stored for an acknowledgement, beside AlarmRole's alarm (1) and
// restore (2): the queue's history is every row with a role.
constexpr int kAcknowledgementRole = 3;

// Schema()'s answer for a store of a newer program: no code of SQLite's.
constexpr int kNewerSchema = -1;

constexpr char kSchema[] = R"SQL(
CREATE TABLE IF NOT EXISTS events(
  id INTEGER PRIMARY KEY,
  seq INTEGER NOT NULL,
  time INTEGER NOT NULL,
  time_text TEXT NOT NULL,
  station TEXT NOT NULL,
  kind TEXT NOT NULL,
  address TEXT NOT NULL,
  text TEXT NOT NULL,
  command TEXT NOT NULL,
  detail TEXT NOT NULL,
  ref INTEGER NOT NULL,
  priority TEXT NOT NULL,
  alarm INTEGER NOT NULL,
  alarm_key TEXT NOT NULL,
  frame BLOB);
CREATE INDEX IF NOT EXISTS events_time ON events(time);
CREATE INDEX IF NOT EXISTS events_address_time ON events(address, time);
CREATE INDEX IF NOT EXISTS events_seq ON events(seq);
CREATE INDEX IF NOT EXISTS events_ref ON events(ref) WHERE ref <> 0;
CREATE INDEX IF NOT EXISTS events_alarms ON events(time) WHERE alarm <> 0;
CREATE TABLE IF NOT EXISTS acknowledgements(
  id INTEGER PRIMARY KEY,
  ref INTEGER NOT NULL,
  time INTEGER NOT NULL,
  note TEXT NOT NULL,
  source TEXT NOT NULL,
  recorded INTEGER);
CREATE INDEX IF NOT EXISTS acknowledgements_ref ON acknowledgements(ref);
CREATE INDEX IF NOT EXISTS events_acknowledged ON events(address, alarm_key) WHERE alarm = 3;
CREATE INDEX IF NOT EXISTS acknowledgements_pending ON acknowledgements(time) WHERE recorded IS NULL;
)SQL";

// A store of schema 1 learns its acknowledgements' keys.
constexpr char kKeysOfAcknowledgements[] =
    "UPDATE events SET alarm_key = COALESCE((SELECT n.alarm_key FROM events n WHERE n.seq = events.ref"
    " AND n.alarm = 1 ORDER BY n.id DESC LIMIT 1), '') WHERE alarm = 3";

constexpr char kColumns[] =
    "e.id, e.seq, e.time, e.time_text, e.station, e.kind, e.address, e.text, e.command, e.detail, e.ref, "
    "e.priority, e.alarm, e.alarm_key, e.frame";

// An alarm's entry in the queue holds every event of its address and key
// until it is acknowledged: so the first acknowledgement of that address and
// key after an alarm event (the row named n) is the one that ended it. Stores
// of schema 1 keep no key with an acknowledgement: there only the event it
// names counts.
std::string AcknowledgementOf(const std::string& n) {
  return "COALESCE((SELECT x.id FROM events x WHERE x.alarm = 3 AND x.address = " + n + ".address AND x.alarm_key = " +
         n + ".alarm_key AND x.id > " + n + ".id ORDER BY x.id LIMIT 1), (SELECT x.id FROM events x WHERE x.ref = " +
         n + ".seq AND x.ref <> 0 AND x.alarm = 3 ORDER BY x.id LIMIT 1))";
}

// An alarm's columns and the acknowledgement's time and note: the console's
// event, or a request (pelvaron-history --ack) that no console has recorded
// yet, naming the alarm itself or made after it and naming an event of the
// same entry. The named alarm is covered whatever the clocks say: a clock set
// back must not leave the alarm the operator named unacknowledged.
std::string SelectWithAcknowledgement(const std::string& prefix) {
  return prefix + "SELECT " + kColumns +
         ", COALESCE(a.time, r.time), CASE WHEN a.id IS NOT NULL THEN a.detail ELSE r.note END FROM events e"
         " LEFT JOIN events a ON e.alarm = 1 AND a.id = " +
         AcknowledgementOf("e") +
         " LEFT JOIN acknowledgements r ON e.alarm = 1 AND a.id IS NULL AND r.id = (SELECT q.id FROM "
         "acknowledgements q WHERE q.recorded IS NULL AND (q.time >= e.time OR q.ref = e.seq) AND EXISTS (SELECT 1 "
         "FROM events n WHERE n.seq = q.ref AND n.alarm = 1 AND n.address = e.address AND n.alarm_key = e.alarm_key) "
         "ORDER BY q.id LIMIT 1)";
}

std::string Column(sqlite3_stmt* s, int i) {
  const unsigned char* text = sqlite3_column_text(s, i);
  return text ? std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(sqlite3_column_bytes(s, i)))
              : std::string();
}

StoredEvent Row(sqlite3_stmt* s, bool withAck) {
  StoredEvent e;
  e.id = sqlite3_column_int64(s, 0);
  e.seq = static_cast<std::uint64_t>(sqlite3_column_int64(s, 1));
  e.time = sqlite3_column_int64(s, 2);
  e.timeText = Column(s, 3);
  e.station = Column(s, 4);
  e.kind = Column(s, 5);
  e.address = Column(s, 6);
  e.text = Column(s, 7);
  e.command = Column(s, 8);
  e.detail = Column(s, 9);
  e.ref = static_cast<std::uint64_t>(sqlite3_column_int64(s, 10));
  e.cls.priority = Column(s, 11);
  e.cls.role = sqlite3_column_int(s, 12);
  e.cls.key = Column(s, 13);
  if (const void* blob = sqlite3_column_blob(s, 14)) {
    const auto* bytes = static_cast<const std::uint8_t*>(blob);
    e.frame.assign(bytes, bytes + sqlite3_column_bytes(s, 14));
  }
  if (withAck && sqlite3_column_type(s, 15) != SQLITE_NULL) {
    e.acknowledged = true;
    e.ackTime = sqlite3_column_int64(s, 15);
    e.ackNote = Column(s, 16);
  }
  return e;
}

void BindText(sqlite3_stmt* s, int i, const std::string& text) {
  sqlite3_bind_text(s, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// pv_contains(text, part): the text search, in any letter case.
void ContainsFunction(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL || sqlite3_value_type(args[1]) == SQLITE_NULL) {
    sqlite3_result_int(context, 0);
    return;
  }
  // The part is folded once per statement, not once per row.
  auto* part = static_cast<std::string*>(sqlite3_get_auxdata(context, 1));
  if (part == nullptr) {
    const auto* raw = reinterpret_cast<const char*>(sqlite3_value_text(args[1]));
    part = new std::string(FoldCase(raw ? raw : ""));
    sqlite3_set_auxdata(context, 1, part, [](void* p) { delete static_cast<std::string*>(p); });
    part = static_cast<std::string*>(sqlite3_get_auxdata(context, 1));
    if (part == nullptr) {
      sqlite3_result_error_nomem(context);
      return;
    }
  }
  const auto* raw = reinterpret_cast<const char*>(sqlite3_value_text(args[0]));
  const std::string text = FoldCase(raw ? std::string_view(raw, static_cast<std::size_t>(sqlite3_value_bytes(args[0])))
                                        : std::string_view());
  sqlite3_result_int(context, text.find(*part) != std::string::npos ? 1 : 0);
}

}  // namespace

std::string FoldCase(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t start = i;
    char32_t cp = 0;
    if (!NextUtf8CodePoint(utf8, i, cp)) {
      out.append(utf8.substr(start, i - start));  // not UTF-8: kept as it is
      continue;
    }
    if (cp >= U'A' && cp <= U'Z') {
      cp += 0x20;
    } else if (cp >= 0x410 && cp <= 0x42F) {
      cp += 0x20;
    } else if (cp == 0x401) {
      cp = 0x451;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

EventStore::~EventStore() {
  Close();
}

std::string StoreProblemText(int code, int systemError) {
  switch (code & 0xFF) {
    case SQLITE_FULL:
      return "диск заполнен";
    case SQLITE_CANTOPEN:
      if (systemError == ENOENT) return "нет такого файла или папки";
      if (systemError == EACCES || systemError == EPERM) return "нет доступа к файлу или папке";
      if (systemError == EROFS) return "диск только для чтения";
      return "файл не открывается";
    case SQLITE_READONLY:
      return "запись запрещена (файл, папка или диск только для чтения)";
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return "нет доступа";
    case SQLITE_NOTADB:
      return "файл не является базой данных";
    case SQLITE_CORRUPT:
      return "файл повреждён";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return "хранилище занято другой программой";
    case SQLITE_IOERR:
      if (systemError == ENOSPC) return "диск заполнен";
      return "ошибка чтения или записи диска";
    case SQLITE_NOMEM:
      return "не хватает памяти";
    default:
      return "ошибка базы данных";
  }
}

int EventStore::Fail(int code, const char* what, const char* problem) {
  error_ = what;
  error_ += ": ";
  // The connection's own words when they are about this failure (a rollback
  // after it may have cleared them).
  if (db_ != nullptr && (sqlite3_errcode(db_) & 0xFF) == (code & 0xFF)) {
    error_ += sqlite3_errmsg(db_);
  } else {
    error_ += sqlite3_errstr(code);
  }
  problem_ = problem != nullptr ? problem : StoreProblemText(code, db_ != nullptr ? sqlite3_system_errno(db_) : 0);
  return code;
}

int EventStore::Prepare(sqlite3_stmt*& stmt, const char* sql) {
  if (stmt != nullptr) {
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    return SQLITE_OK;
  }
  int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
  if (rc != SQLITE_OK) return Fail(rc, "prepare");
  return SQLITE_OK;
}

int EventStore::Statement(const std::string& sql, const char* what, sqlite3_stmt*& stmt) {
  stmt = nullptr;
  const int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr);
  return rc == SQLITE_OK ? rc : Fail(rc, what);
}

template <class Each>
int EventStore::Rows(sqlite3_stmt* stmt, const char* what, Each&& each) {
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) each(stmt);
  sqlite3_finalize(stmt);
  return rc == SQLITE_DONE ? SQLITE_OK : Fail(rc, what);
}

void EventStore::Finalize() {
  sqlite3_finalize(insert_);
  sqlite3_finalize(markAck_);
  sqlite3_finalize(pending_);
  sqlite3_finalize(dataVersion_);
  sqlite3_finalize(holds_);
  insert_ = markAck_ = pending_ = dataVersion_ = holds_ = nullptr;
}

int EventStore::BusyWait(void* self, int count) {
  auto* store = static_cast<EventStore*>(self);
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const std::int64_t now = static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  if (count == 0) store->busySince_ = now;
  const std::int64_t giveUp = std::min(store->busySince_ + kBusyWaitMs, store->giveUpAt_.load());
  if (now >= giveUp) return 0;
  // Short steps: a shutdown that comes meanwhile is not kept waiting.
  sqlite3_sleep(static_cast<int>(std::min<std::int64_t>(10, giveUp - now)));
  return 1;
}

int EventStore::Open(const std::string& path, Mode mode, const char* vfs) {
  Close();
  const int flags = mode == Mode::ReadWrite ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
  if (mode == Mode::ReadWrite && vfs == nullptr && !path.empty() && path.front() != ':' && path.rfind("file:", 0) != 0) {
    // The store's file is made as every file is (SQLite gives its -wal and
    // -shm the mode of the store's own file).
    const int fd = CreateFile(path, O_RDWR, WhenThere::OpenThroughLinks);
    if (fd < 0) {
      const std::string problem = StoreProblemText(SQLITE_CANTOPEN, errno);
      return Fail(SQLITE_CANTOPEN, "open", problem.c_str());
    }
    ::close(fd);
  }
  int rc = sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, vfs);
  if (rc != SQLITE_OK) {
    Fail(rc, "open");
    Close();
    return rc;
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_handler(db_, BusyWait, this);
  sqlite3_create_function_v2(db_, "pv_contains", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, ContainsFunction,
                             nullptr, nullptr, nullptr);
  // A small page cache: the store must not grow a station's memory.
  const char* pragmas = mode == Mode::ReadWrite ? "PRAGMA cache_size = -256;"
                                                  "PRAGMA journal_mode = WAL;"
                                                  "PRAGMA synchronous = NORMAL;"
                                                  "PRAGMA journal_size_limit = 4194304;"
                                                  "PRAGMA temp_store = MEMORY;"
                                                : "PRAGMA cache_size = -1024;";
  rc = sqlite3_exec(db_, pragmas, nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK && mode == Mode::ReadWrite) rc = Schema();
  const char* problem = nullptr;
  if (rc == SQLITE_OK && mode == Mode::ReadOnly) {
    // A store that another program made must be ours.
    rc = sqlite3_exec(db_, "SELECT id FROM events LIMIT 0", nullptr, nullptr, nullptr);
    if (rc == SQLITE_ERROR) problem = "в файле нет событий консоли";
  }
  if (rc != SQLITE_OK) {
    // Schema() has said why already when the store is a newer program's.
    if (rc == kNewerSchema) {
      rc = SQLITE_ERROR;
    } else {
      Fail(rc, mode == Mode::ReadWrite ? "set up" : "read", problem);
    }
    sqlite3_close_v2(db_);
    db_ = nullptr;
    return rc;
  }
  error_.clear();
  problem_.clear();
  return SQLITE_OK;
}

int EventStore::Schema() {
  int version = 0;
  sqlite3_stmt* s = nullptr;
  int rc = sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &s, nullptr);
  if (rc == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW) version = sqlite3_column_int(s, 0);
  rc = sqlite3_finalize(s);
  if (rc != SQLITE_OK) return rc;
  if (version > kSchemaVersion) {
    error_ = "set up: made by a newer program (schema " + std::to_string(version) + ")";
    problem_ = "его записала более новая версия программы";
    return kNewerSchema;
  }
  if (version == kSchemaVersion) return SQLITE_OK;
  rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK && version == 1) rc = sqlite3_exec(db_, kKeysOfAcknowledgements, nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_exec(db_, ("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str(), nullptr, nullptr,
                      nullptr);
  }
  if (rc == SQLITE_OK) rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  return rc;
}

void EventStore::Close() {
  Finalize();
  if (db_ != nullptr) sqlite3_close_v2(db_);
  db_ = nullptr;
}

int EventStore::Begin() {
  int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  return rc == SQLITE_OK ? rc : Fail(rc, "begin");
}

int EventStore::Commit() {
  int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  return rc == SQLITE_OK ? rc : Fail(rc, "commit");
}

void EventStore::Rollback() {
  if (db_ != nullptr && !sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

int EventStore::Insert(const Event& event, const StoredClass& cls) {
  StoredEvent row;
  row.seq = event.seq;
  row.time = event.time;
  row.timeText = event.timeText;
  row.station = event.station;
  row.kind = EventKindName(event.kind);
  row.address = event.address;
  row.text = event.text;
  row.command = event.command;
  row.detail = event.detail;
  row.ref = event.ref;
  row.cls = cls;
  if (event.kind == EventKind::AlarmAcknowledged) row.cls.role = kAcknowledgementRole;
  if (event.message) row.frame.assign(event.message->raw.begin(), event.message->raw.end());
  return InsertStored(row);
}

int EventStore::InsertStored(const StoredEvent& event) {
  int rc = Prepare(insert_,
                   "INSERT INTO events(seq, time, time_text, station, kind, address, text, command, detail, ref, "
                   "priority, alarm, alarm_key, frame) VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,"
                   // An acknowledgement keeps the key of the alarm it names.
                   "CASE WHEN ?12 = 3 THEN COALESCE((SELECT n.alarm_key FROM events n WHERE n.seq = ?10"
                   " AND n.alarm = 1 ORDER BY n.id DESC LIMIT 1), '') ELSE ?13 END,?14)");
  if (rc != SQLITE_OK) return rc;
  const bool ack = event.cls.role == kAcknowledgementRole;
  sqlite3_bind_int64(insert_, 1, static_cast<sqlite3_int64>(event.seq));
  sqlite3_bind_int64(insert_, 2, event.time);
  BindText(insert_, 3, event.timeText);
  BindText(insert_, 4, event.station);
  BindText(insert_, 5, event.kind);
  BindText(insert_, 6, event.address);
  BindText(insert_, 7, event.text);
  BindText(insert_, 8, event.command);
  BindText(insert_, 9, event.detail);
  sqlite3_bind_int64(insert_, 10, static_cast<sqlite3_int64>(event.ref));
  BindText(insert_, 11, event.cls.priority);
  sqlite3_bind_int(insert_, 12, event.cls.role);
  BindText(insert_, 13, event.cls.key);
  if (!event.frame.empty()) {
    sqlite3_bind_blob(insert_, 14, event.frame.data(), static_cast<int>(event.frame.size()),
                      SQLITE_TRANSIENT);
  }
  rc = sqlite3_step(insert_);
  sqlite3_reset(insert_);
  if (rc != SQLITE_DONE) return Fail(rc, "insert");
  if (!ack) return SQLITE_OK;
  rc = Prepare(markAck_, "UPDATE acknowledgements SET recorded = ? WHERE ref = ? AND recorded IS NULL");
  if (rc != SQLITE_OK) return rc;
  sqlite3_bind_int64(markAck_, 1, static_cast<sqlite3_int64>(event.seq));
  sqlite3_bind_int64(markAck_, 2, static_cast<sqlite3_int64>(event.ref));
  rc = sqlite3_step(markAck_);
  sqlite3_reset(markAck_);
  return rc == SQLITE_DONE ? SQLITE_OK : Fail(rc, "mark acknowledgement");
}

int EventStore::RequestAcknowledgement(std::uint64_t ref, std::int64_t time, const std::string& note,
                                       const std::string& source, std::int64_t* id) {
  sqlite3_stmt* s = nullptr;
  int rc = Statement("INSERT INTO acknowledgements(ref, time, note, source) VALUES(?,?,?,?)", "prepare", s);
  if (rc != SQLITE_OK) return rc;
  sqlite3_bind_int64(s, 1, static_cast<sqlite3_int64>(ref));
  sqlite3_bind_int64(s, 2, time);
  BindText(s, 3, note);
  BindText(s, 4, source);
  rc = sqlite3_step(s);
  sqlite3_finalize(s);
  if (rc != SQLITE_DONE) return Fail(rc, "insert acknowledgement");
  if (id) *id = sqlite3_last_insert_rowid(db_);
  return SQLITE_OK;
}

int EventStore::PrepareSearch(const HistoryQuery& q, const char* prefix, sqlite3_stmt*& s) {
  std::string sql = SelectWithAcknowledgement(prefix) + " WHERE 1";
  const std::vector<std::string> forms = q.address.empty() ? std::vector<std::string>{} : AddressForms(q.address);
  if (forms.size() == 1) sql += " AND e.address = :address";
  if (forms.size() == 2) sql += " AND (e.address = :address OR e.address = :padded)";
  if (q.from) sql += " AND e.time >= :from";
  if (q.to) sql += " AND e.time <= :to";
  if (!q.priority.empty()) sql += " AND e.priority = :priority";
  if (!q.text.empty()) sql += " AND (pv_contains(e.text, :text) OR pv_contains(e.detail, :text))";
  sql += " ORDER BY e.time DESC, e.id DESC";
  if (q.limit > 0) sql += " LIMIT :limit";
  if (int rc = Statement(sql, "search", s); rc != SQLITE_OK) return rc;
  auto bind = [s](const char* name) { return sqlite3_bind_parameter_index(s, name); };
  if (!forms.empty()) BindText(s, bind(":address"), forms[0]);
  if (forms.size() == 2) BindText(s, bind(":padded"), forms[1]);
  if (q.from) sqlite3_bind_int64(s, bind(":from"), *q.from);
  if (q.to) sqlite3_bind_int64(s, bind(":to"), *q.to);
  if (!q.priority.empty()) BindText(s, bind(":priority"), q.priority);
  if (!q.text.empty()) BindText(s, bind(":text"), q.text);
  if (q.limit > 0) sqlite3_bind_int64(s, bind(":limit"), static_cast<sqlite3_int64>(q.limit));
  return SQLITE_OK;
}

int EventStore::Search(const HistoryQuery& q, std::vector<StoredEvent>& out) {
  out.clear();
  sqlite3_stmt* s = nullptr;
  if (int rc = PrepareSearch(q, "", s); rc != SQLITE_OK) return rc;
  return Rows(s, "search", [&](sqlite3_stmt* row) { out.push_back(Row(row, true)); });
}

std::string EventStore::SearchPlan(const HistoryQuery& q) {
  sqlite3_stmt* s = nullptr;
  if (PrepareSearch(q, "EXPLAIN QUERY PLAN ", s) != SQLITE_OK) return {};
  std::string plan;
  Rows(s, "search plan", [&](sqlite3_stmt* row) { plan += Column(row, 3) + "\n"; });
  return plan;
}

std::optional<StoredEvent> EventStore::FindBySeq(std::uint64_t seq) {
  sqlite3_stmt* s = nullptr;
  const std::string sql = SelectWithAcknowledgement("") + " WHERE e.seq = ? ORDER BY e.id DESC LIMIT 1";
  if (Statement(sql, "find", s) != SQLITE_OK) return std::nullopt;
  sqlite3_bind_int64(s, 1, static_cast<sqlite3_int64>(seq));
  std::optional<StoredEvent> found;
  Rows(s, "find", [&](sqlite3_stmt* row) { found = Row(row, true); });
  return found;
}

int EventStore::PendingAcknowledgements(std::int64_t afterId, std::vector<PendingAcknowledgement>& out) {
  out.clear();
  // Asked every few seconds for as long as the console runs: prepared once.
  // A request for an alarm whose entry has been acknowledged since (in the
  // window, or by a request for another of its events) is answered already.
  static const std::string sql =
      "SELECT r.id, r.ref, r.time, r.note, r.source,"
      " (SELECT e.address FROM events e WHERE e.seq = r.ref ORDER BY e.id DESC LIMIT 1),"
      " (SELECT e.text FROM events e WHERE e.seq = r.ref ORDER BY e.id DESC LIMIT 1)"
      " FROM acknowledgements r WHERE r.id > ? AND r.recorded IS NULL"
      " AND NOT EXISTS (SELECT 1 FROM events a WHERE a.ref = r.ref AND a.ref <> 0 AND a.alarm = 3)"
      " AND NOT EXISTS (SELECT 1 FROM events n WHERE n.seq = r.ref AND n.alarm = 1 AND " +
      AcknowledgementOf("n") + " IS NOT NULL) ORDER BY r.id";
  int rc = Prepare(pending_, sql.c_str());
  if (rc != SQLITE_OK) return rc;
  sqlite3_bind_int64(pending_, 1, afterId);
  while ((rc = sqlite3_step(pending_)) == SQLITE_ROW) {
    PendingAcknowledgement a;
    a.id = sqlite3_column_int64(pending_, 0);
    a.ref = static_cast<std::uint64_t>(sqlite3_column_int64(pending_, 1));
    a.time = sqlite3_column_int64(pending_, 2);
    a.note = Column(pending_, 3);
    a.source = Column(pending_, 4);
    a.address = Column(pending_, 5);
    a.text = Column(pending_, 6);
    out.push_back(std::move(a));
  }
  sqlite3_reset(pending_);  // kept for the next time, holding no read
  return rc == SQLITE_DONE ? SQLITE_OK : Fail(rc, "pending acknowledgements");
}

int EventStore::DataVersion(std::int64_t& version) {
  int rc = Prepare(dataVersion_, "PRAGMA data_version");
  if (rc != SQLITE_OK) return rc;
  rc = sqlite3_step(dataVersion_);
  if (rc == SQLITE_ROW) version = sqlite3_column_int64(dataVersion_, 0);
  sqlite3_reset(dataVersion_);
  return rc == SQLITE_ROW ? SQLITE_OK : Fail(rc, "data version");
}

int EventStore::AlarmHistory(std::int64_t since, std::vector<StoredEvent>& out) {
  out.clear();
  sqlite3_stmt* s = nullptr;
  const std::string sql =
      std::string("SELECT ") + kColumns + " FROM events e WHERE e.alarm <> 0 AND e.time >= ? ORDER BY e.id";
  if (int rc = Statement(sql, "alarm history", s); rc != SQLITE_OK) return rc;
  sqlite3_bind_int64(s, 1, since);
  return Rows(s, "alarm history", [&](sqlite3_stmt* row) { out.push_back(Row(row, false)); });
}

bool EventStore::Holds(const StoredEvent& event) {
  if (Prepare(holds_, "SELECT 1 FROM events WHERE seq = ? AND time = ? AND kind = ?") != SQLITE_OK)
    return false;
  sqlite3_bind_int64(holds_, 1, static_cast<sqlite3_int64>(event.seq));
  sqlite3_bind_int64(holds_, 2, event.time);
  BindText(holds_, 3, event.kind);
  const bool found = sqlite3_step(holds_) == SQLITE_ROW;
  sqlite3_reset(holds_);
  return found;
}

int EventStore::AllInOrder(std::vector<StoredEvent>& out) {
  out.clear();
  sqlite3_stmt* s = nullptr;
  if (int rc = Statement(std::string("SELECT ") + kColumns + " FROM events e ORDER BY e.id", "read", s);
      rc != SQLITE_OK) {
    return rc;
  }
  return Rows(s, "read", [&](sqlite3_stmt* row) { out.push_back(Row(row, false)); });
}

std::int64_t EventStore::Count() {
  sqlite3_stmt* s = nullptr;
  std::int64_t n = -1;
  if (sqlite3_prepare_v2(db_, "SELECT count(*) FROM events", -1, &s, nullptr) == SQLITE_OK &&
      sqlite3_step(s) == SQLITE_ROW) {
    n = sqlite3_column_int64(s, 0);
  }
  sqlite3_finalize(s);
  return n;
}

int EventStore::HighestSeq(std::uint64_t& seq) {
  seq = 0;
  sqlite3_stmt* s = nullptr;
  if (int rc = Statement("SELECT max(seq) FROM events", "highest number", s); rc != SQLITE_OK) return rc;
  return Rows(s, "highest number", [&](sqlite3_stmt* row) {
    const sqlite3_int64 n = sqlite3_column_int64(row, 0);
    seq = n > 0 ? static_cast<std::uint64_t>(n) : 0;
  });
}

}  // namespace pelvaron
