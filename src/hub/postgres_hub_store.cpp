#include "hub/postgres_hub_store.h"

#include <libpq-fe.h>

#include <array>
#include <cstdlib>

namespace pelvaron {

namespace {

struct ConnectionCloser {
  void operator()(PGconn* conn) const { PQfinish(conn); }
};
using PgConnection = std::unique_ptr<PGconn, ConnectionCloser>;
struct ResultClearer {
  void operator()(PGresult* result) const { PQclear(result); }
};
using PgResult = std::unique_ptr<PGresult, ResultClearer>;

constexpr char kSchema[] =
    "SET client_min_messages = warning;"
    "CREATE TABLE IF NOT EXISTS events(station TEXT NOT NULL, seq BIGINT NOT NULL, time BIGINT NOT NULL,"
    " time_text TEXT NOT NULL, kind TEXT NOT NULL, address TEXT, text TEXT, command TEXT, detail TEXT,"
    " ref BIGINT, operator TEXT, json TEXT NOT NULL, PRIMARY KEY (station, seq));"
    "CREATE INDEX IF NOT EXISTS events_object ON events(station, address, time);"
    "CREATE INDEX IF NOT EXISTS events_time ON events(time);"
    // A table made before the hub kept what the reports need gains it; the
    // consoles' handling of alarms already stored is known by its kind.
    "DO $$ BEGIN"
    " IF NOT EXISTS (SELECT 1 FROM information_schema.columns WHERE table_schema = current_schema()"
    " AND table_name = 'events' AND column_name = 'alarm') THEN"
    " ALTER TABLE events ADD COLUMN IF NOT EXISTS priority TEXT NOT NULL DEFAULT '',"
    " ADD COLUMN IF NOT EXISTS alarm INTEGER NOT NULL DEFAULT 0, ADD COLUMN IF NOT EXISTS alarm_key TEXT NOT NULL DEFAULT '';"
    " UPDATE events SET alarm = CASE kind WHEN 'alarm-acknowledged' THEN 3 WHEN 'alarm-action' THEN 4 ELSE 5 END"
    " WHERE kind IN ('alarm-acknowledged', 'alarm-action', 'alarm-closed');"
    " END IF; END $$;"
    // The reports' reads: a station's alarms and their handling by time.
    "CREATE INDEX IF NOT EXISTS events_alarms ON events(station, time) WHERE alarm <> 0;"
    "CREATE TABLE IF NOT EXISTS gaps(station TEXT NOT NULL, after_seq BIGINT NOT NULL,"
    " before_seq BIGINT NOT NULL, seen_at BIGINT NOT NULL, PRIMARY KEY (station, after_seq));";

// A whole batch in one statement: each column as an array, so a thousand
// events cost one round trip.
constexpr char kInsertEvents[] =
    "INSERT INTO events(station, seq, time, time_text, kind, address, text, command, detail, ref, operator, json,"
    " priority, alarm, alarm_key)"
    " SELECT * FROM unnest($1::text[], $2::bigint[], $3::bigint[], $4::text[], $5::text[], $6::text[],"
    " $7::text[], $8::text[], $9::text[], $10::bigint[], $11::text[], $12::text[], $13::text[], $14::int[],"
    " $15::text[]) ON CONFLICT DO NOTHING";
constexpr char kInsertGaps[] =
    "INSERT INTO gaps(station, after_seq, before_seq, seen_at)"
    " SELECT * FROM unnest($1::text[], $2::bigint[], $3::bigint[], $4::bigint[]) ON CONFLICT DO NOTHING";
constexpr char kColumns[] = "station, seq, time, time_text, kind, address, text, command, detail, ref, operator, json";

// Builds a one-dimensional array literal: {"a","b",NULL}.
class ArrayText {
 public:
  ArrayText() { text_ = "{"; }
  void Add(const std::string& value, bool emptyIsNull = true) {
    Comma();
    if (value.empty() && emptyIsNull) {
      text_ += "NULL";
      return;
    }
    text_ += '"';
    for (const char c : value) {
      if (c == '\0') continue;  // text cannot hold it
      if (c == '"' || c == '\\') text_ += '\\';
      text_ += c;
    }
    text_ += '"';
  }
  void Add(std::int64_t value) {
    Comma();
    text_ += std::to_string(value);
  }
  void AddNull() {
    Comma();
    text_ += "NULL";
  }
  const std::string& Done() {
    text_ += '}';
    return text_;
  }

 private:
  void Comma() {
    if (text_.size() > 1) text_ += ',';
  }
  std::string text_;
};

std::string Trimmed(const char* message) {
  std::string text = message != nullptr ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '.')) text.pop_back();
  const std::size_t line = text.find('\n');
  return line == std::string::npos ? text : text.substr(0, line);
}

class PostgresHubStore final : public HubStore {
 public:
  explicit PostgresHubStore(std::string url) : url_(std::move(url)) {}

  Result<> Connect() {
    conn_.reset(PQconnectdb(url_.c_str()));
    if (!conn_ || PQstatus(conn_.get()) != CONNECTION_OK) return Fail("нет связи с базой данных PostgreSQL");
    where_ = std::string(PQdb(conn_.get())) + " на " + (PQhost(conn_.get()) ? PQhost(conn_.get()) : "") + ":" +
             PQport(conn_.get());
    PgResult schema(PQexec(conn_.get(), kSchema));
    if (PQresultStatus(schema.get()) != PGRES_COMMAND_OK) return Fail("не удалось создать таблицы", schema.get());
    return {};
  }

  Result<std::size_t> Write(const std::vector<HubEvent>& events, const std::vector<SeqGap>& gaps) override {
    if (Result<> up = EnsureConnected(); !up) return up.problem();
    std::array<ArrayText, 15> columns;
    for (const HubEvent& e : events) {
      columns[0].Add(e.station, false);
      columns[1].Add(e.seq);
      columns[2].Add(e.time);
      columns[3].Add(e.timeText, false);
      columns[4].Add(e.kind, false);
      columns[5].Add(e.address);
      columns[6].Add(e.text);
      columns[7].Add(e.command);
      columns[8].Add(e.detail);
      if (e.ref) {
        columns[9].Add(*e.ref);
      } else {
        columns[9].AddNull();
      }
      columns[10].Add(e.operatorName);
      columns[11].Add(e.json, false);
      columns[12].Add(e.priority, false);
      columns[13].Add(e.alarmRole);
      columns[14].Add(e.alarmKey, false);
    }
    std::array<ArrayText, 4> gapColumns;
    for (const SeqGap& gap : gaps) {
      gapColumns[0].Add(gap.station, false);
      gapColumns[1].Add(gap.afterSeq);
      gapColumns[2].Add(gap.beforeSeq);
      gapColumns[3].Add(gap.seenAt);
    }
    if (Result<> begun = Command("BEGIN"); !begun) return begun.problem();
    std::size_t added = 0;
    Result<> written = events.empty() ? Result<>() : Insert(kInsertEvents, columns, &added);
    if (written && !gaps.empty()) written = Insert(kInsertGaps, gapColumns);
    if (written) written = Command("COMMIT");
    if (!written) {
      PgResult(PQexec(conn_.get(), "ROLLBACK"));
      return written.problem();
    }
    return added;
  }

  Result<std::map<std::string, std::int64_t>> LastSeqs() override {
    if (Result<> up = EnsureConnected(); !up) return up.problem();
    PgResult result(PQexec(conn_.get(), "SELECT station, max(seq) FROM events GROUP BY station"));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) return Fail("не удалось прочитать события", result.get());
    std::map<std::string, std::int64_t> last;
    for (int row = 0; row < PQntuples(result.get()); ++row)
      last[PQgetvalue(result.get(), row, 0)] = std::stoll(PQgetvalue(result.get(), row, 1));
    return last;
  }

  Result<std::vector<HubEvent>> ObjectEvents(const std::string& station, const std::string& address,
                                             std::int64_t from, std::int64_t to) override {
    if (Result<> up = EnsureConnected(); !up) return up.problem();
    const std::string sql = std::string("SELECT ") + kColumns +
                            " FROM events WHERE station = $1 AND address = $2 AND time >= $3 AND time < $4"
                            " ORDER BY time, seq";
    const std::string fromText = std::to_string(from), toText = std::to_string(to);
    const char* values[] = {station.c_str(), address.c_str(), fromText.c_str(), toText.c_str()};
    PgResult result(PQexecParams(conn_.get(), sql.c_str(), 4, nullptr, values, nullptr, nullptr, 0));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) return Fail("не удалось прочитать события", result.get());
    std::vector<HubEvent> found;
    PGresult* r = result.get();
    for (int row = 0; row < PQntuples(r); ++row) {
      HubEvent& e = found.emplace_back();
      e.station = PQgetvalue(r, row, 0);
      e.seq = std::stoll(PQgetvalue(r, row, 1));
      e.time = std::stoll(PQgetvalue(r, row, 2));
      e.timeText = PQgetvalue(r, row, 3);
      e.kind = PQgetvalue(r, row, 4);
      e.address = PQgetvalue(r, row, 5);
      e.text = PQgetvalue(r, row, 6);
      e.command = PQgetvalue(r, row, 7);
      e.detail = PQgetvalue(r, row, 8);
      if (!PQgetisnull(r, row, 9)) e.ref = std::stoll(PQgetvalue(r, row, 9));
      e.operatorName = PQgetvalue(r, row, 10);
      e.json = PQgetvalue(r, row, 11);
    }
    return found;
  }

  Result<std::vector<SeqGap>> Gaps() override {
    if (Result<> up = EnsureConnected(); !up) return up.problem();
    PgResult result(PQexec(conn_.get(), "SELECT station, after_seq, before_seq, seen_at FROM gaps ORDER BY station, after_seq"));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) return Fail("не удалось прочитать пропуски", result.get());
    std::vector<SeqGap> gaps;
    for (int row = 0; row < PQntuples(result.get()); ++row) {
      gaps.push_back({PQgetvalue(result.get(), row, 0), std::stoll(PQgetvalue(result.get(), row, 1)),
                      std::stoll(PQgetvalue(result.get(), row, 2)), std::stoll(PQgetvalue(result.get(), row, 3))});
    }
    return gaps;
  }

  Result<> CloseGap(const SeqGap& gap) override {
    if (Result<> up = EnsureConnected(); !up) return up.problem();
    const std::string after = std::to_string(gap.afterSeq), before = std::to_string(gap.beforeSeq);
    const char* values[] = {gap.station.c_str(), after.c_str(), before.c_str()};
    PgResult result(PQexecParams(conn_.get(), "DELETE FROM gaps WHERE station = $1 AND after_seq = $2 AND before_seq = $3",
                                 3, nullptr, values, nullptr, nullptr, 0));
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) return Fail("не удалось закрыть пропуск", result.get());
    return {};
  }

  Result<std::vector<std::int64_t>> Seqs(const std::string& station) override {
    if (Result<> up = EnsureConnected(); !up) return up.problem();
    const char* values[] = {station.c_str()};
    PgResult result(PQexecParams(conn_.get(), "SELECT seq FROM events WHERE station = $1 ORDER BY seq", 1, nullptr,
                                 values, nullptr, nullptr, 0));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) return Fail("не удалось прочитать события", result.get());
    std::vector<std::int64_t> seqs;
    for (int row = 0; row < PQntuples(result.get()); ++row) seqs.push_back(std::stoll(PQgetvalue(result.get(), row, 0)));
    return seqs;
  }

  std::string Where() const override { return "PostgreSQL " + where_; }

 private:
  Result<> EnsureConnected() {
    if (PQstatus(conn_.get()) == CONNECTION_OK) return {};
    PQreset(conn_.get());
    if (PQstatus(conn_.get()) != CONNECTION_OK) return Fail("нет связи с базой данных PostgreSQL");
    return {};
  }

  Result<> Command(const char* sql) {
    PgResult result(PQexec(conn_.get(), sql));
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) return Fail("не удалось записать события", result.get());
    return {};
  }

  template <std::size_t N>
  Result<> Insert(const char* sql, std::array<ArrayText, N>& columns, std::size_t* added = nullptr) {
    std::array<const char*, N> values;
    for (std::size_t i = 0; i < N; ++i) values[i] = columns[i].Done().c_str();
    PgResult result(PQexecParams(conn_.get(), sql, static_cast<int>(N), nullptr, values.data(), nullptr, nullptr, 0));
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) return Fail("не удалось записать события", result.get());
    if (added != nullptr) *added = std::strtoull(PQcmdTuples(result.get()), nullptr, 10);
    return {};
  }

  Problem Fail(const std::string& text, const PGresult* result = nullptr) const {
    const char* message = result != nullptr ? PQresultErrorMessage(result) : nullptr;
    if (message == nullptr || *message == '\0') message = conn_ ? PQerrorMessage(conn_.get()) : "";
    return Problem(text, Trimmed(message));
  }

  std::string url_;
  std::string where_;
  PgConnection conn_;
};

}  // namespace

Result<std::unique_ptr<HubStore>> OpenPostgresHubStore(const std::string& url) {
  auto store = std::make_unique<PostgresHubStore>(url);
  if (Result<> connected = store->Connect(); !connected) return connected.problem();
  return std::unique_ptr<HubStore>(std::move(store));
}

}  // namespace pelvaron
