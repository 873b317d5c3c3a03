// The reports' rows from the hub's store: the same replay as over a
// console's events store; the SQL runs on SQLite and PostgreSQL alike.
#include "hub/web/hub_report.h"

#include <charconv>
#include <unordered_map>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "reports/query/report_source.h"
#include "store/event_schema.h"

namespace pelvaron {

namespace {

std::int64_t Number(const std::string& text) {
  std::int64_t n = 0;
  std::from_chars(text.data(), text.data() + text.size(), n);
  return n;
}

// A handling row keeps no key of its own at the hub: it is its alarm's.
constexpr char kKey[] =
    "CASE WHEN e.alarm >= 3 THEN COALESCE((SELECT n.alarm_key FROM events n WHERE n.station = e.station"
    " AND n.seq = e.ref), '') ELSE e.alarm_key END";

std::string Columns() {
  return std::string("e.seq, e.time, e.station, e.address, e.text, e.command, e.detail, COALESCE(e.ref, 0),"
                     " e.priority, e.alarm, ") +
         kKey + ", e.operator";
}

void ToRow(const WebDb::Row& c, ReportRow& r) {
  r.seq = static_cast<std::uint64_t>(Number(c[0]));
  r.time = Number(c[1]);
  r.station = c[2];
  r.address = c[3];
  r.text = c[4];
  r.command = c[5];
  r.detail = c[6];
  r.ref = static_cast<std::uint64_t>(Number(c[7]));
  r.priority = c[8];
  r.role = static_cast<int>(Number(c[9]));
  r.key = c[10];
  r.operatorName = c[11];
}

class HubStoreSource final : public ReportSource {
 public:
  HubStoreSource(WebDb& db, std::string station) : db_(db), station_(std::move(station)) {}

  Result<> LoadNamed(std::int64_t from, std::int64_t) override {
    // A handling comes after its alarm: those from the range's start on name
    // every alarm of the range.
    std::vector<std::string> params{std::to_string(from)};
    const std::string sql =
        "SELECT e.station, e.ref FROM events e WHERE e.alarm <> 0 AND e.alarm >= 3 AND e.time >= $1" + Station(params);
    Result<std::vector<WebDb::Row>> rows = db_.Query(sql, params);
    if (!rows) return rows.problem();
    for (const WebDb::Row& row : *rows) named_[row[0]].insert(static_cast<std::uint64_t>(Number(row[1])));
    return {};
  }

  bool Named(const ReportRow& alarm) const override {
    const auto station = named_.find(alarm.station);
    return station != named_.end() && station->second.count(alarm.seq) > 0;
  }

  Result<> Alarms(std::int64_t from, std::int64_t to, const std::vector<std::string>& addresses,
                  const std::vector<std::string>& waiting, const EachRow& each) override {
    std::vector<std::string> params{std::to_string(from), std::to_string(to)};
    std::string sql = "SELECT " + Columns() + " FROM events e WHERE e.alarm <> 0 AND e.time >= $1 AND e.time <= $2" +
                      Station(params) + Addresses(addresses, params) + " AND (e.alarm >= 3";
    if (!waiting.empty()) {
      sql += " OR (e.alarm = 1 AND e.priority IN (" + List(waiting, params) + "))";
    }
    sql += ") ORDER BY e.time, e.station, e.seq";
    return Each(sql, params, each);
  }

  Result<> KeyHistory(const ReportRow& r, std::int64_t since, std::int64_t before, const EachRow& each) override {
    const std::vector<std::string> params{r.station, r.address, std::to_string(since), std::to_string(before), r.key};
    const std::string sql = std::string("SELECT e.alarm, e.priority FROM events e WHERE e.alarm <> 0 AND e.station = $1") +
                            " AND e.address = $2 AND e.time >= $3 AND e.time < $4 AND e.alarm IN (1, 5) AND " + kKey +
                            " = $5 ORDER BY e.time DESC, e.seq DESC";
    Result<std::vector<WebDb::Row>> rows = db_.Query(sql, params);
    if (!rows) return rows.problem();
    ReportRow row;
    for (const WebDb::Row& c : *rows) {
      row.role = static_cast<int>(Number(c[0]));
      row.priority = c[1];
      if (!each(row)) break;
    }
    return {};
  }

  Result<> HandlingAfter(const std::string& station, std::uint64_t id, std::int64_t after,
                         const EachRow& each) override {
    const std::vector<std::string> params{station, std::to_string(id), std::to_string(after)};
    return Each("SELECT " + Columns() +
                    " FROM events e WHERE e.alarm <> 0 AND e.station = $1 AND e.ref = $2 AND e.alarm IN (3, 4, 5)"
                    " AND e.time > $3 ORDER BY e.time, e.seq",
                params, each);
  }

  Result<> States(std::int64_t to, const EachRow& each) override {
    std::vector<std::string> params{std::to_string(to)};
    const std::string sql = std::string("SELECT e.time, e.kind, e.station, e.address, e.operator FROM events e WHERE ") +
                            kStateEventsWhere + " AND e.time <= $1" + Station(params) +
                            " ORDER BY e.time, e.station, e.seq";
    Result<std::vector<WebDb::Row>> rows = db_.Query(sql, params);
    if (!rows) return rows.problem();
    ReportRow row;
    for (const WebDb::Row& c : *rows) {
      row.time = Number(c[0]);
      row.kind = c[1];
      row.station = c[2];
      row.address = c[3];
      row.operatorName = c[4];
      if (!each(row)) break;
    }
    return {};
  }

  Result<std::vector<OpeningClosing>> Openings(std::int64_t from, std::int64_t to,
                                               const std::vector<std::string>& addresses) override {
    std::vector<std::string> params{std::to_string(from), std::to_string(to)};
    const std::string sql = "SELECT e.time, e.address, e.text, e.json FROM events e WHERE e.kind = 'message'"
                            " AND e.time >= $1 AND e.time <= $2" +
                            Station(params) + Addresses(addresses, params) + " ORDER BY e.time, e.station, e.seq";
    Result<std::vector<WebDb::Row>> rows = db_.Query(sql, params);
    if (!rows) return rows.problem();
    std::vector<OpeningClosing> found;
    for (const WebDb::Row& c : *rows) {
      // The decoded message as the console sent it: its Contact ID fields.
      const nlohmann::json event = nlohmann::json::parse(c[3], nullptr, false);
      const nlohmann::json* cid = Member(Member(&event, "message"), "contact_id");
      if (cid == nullptr) continue;
      const nlohmann::json code = cid->value("code_number", nlohmann::json());
      if (!code.is_number_integer() || code.get<int>() < 400 || code.get<int>() > 409) continue;
      OpeningClosing o;
      o.time = Number(c[0]);
      o.address = c[1];
      o.code = code.get<int>();
      o.opening = cid->value("new_event", false);
      const nlohmann::json zone = cid->value("zone_number", nlohmann::json());
      if (zone.is_number_integer() && zone.get<int>() > 0) o.user = std::to_string(zone.get<int>());
      o.text = c[2];
      found.push_back(std::move(o));
    }
    return found;
  }

  std::string StoredAddress(const std::vector<std::string>& forms) override {
    for (const std::string& form : forms) {
      std::vector<std::string> params{form};
      const std::string sql = "SELECT 1 FROM events e WHERE e.address = $1" + Station(params) + " LIMIT 1";
      Result<std::vector<WebDb::Row>> rows = db_.Query(sql, params);
      if (rows && !rows->empty()) return form;
    }
    return forms.front();
  }

  std::string LastStation(std::int64_t to) override {
    if (!station_.empty()) return station_;
    Result<std::vector<WebDb::Row>> rows =
        db_.Query("SELECT station FROM events WHERE time <= $1 ORDER BY time DESC LIMIT 1", {std::to_string(to)});
    return rows && !rows->empty() ? (*rows)[0][0] : std::string();
  }

 private:
  static const nlohmann::json* Member(const nlohmann::json* object, const char* key) {
    if (object == nullptr || !object->is_object()) return nullptr;
    const auto it = object->find(key);
    return it != object->end() && it->is_object() ? &*it : nullptr;
  }

  std::string Station(std::vector<std::string>& params) const {
    if (station_.empty()) return {};
    params.push_back(station_);
    return " AND e.station = $" + std::to_string(params.size());
  }

  static std::string List(const std::vector<std::string>& values, std::vector<std::string>& params) {
    std::string list;
    for (const std::string& v : values) {
      params.push_back(v);
      list += (list.empty() ? "$" : ", $") + std::to_string(params.size());
    }
    return list;
  }

  static std::string Addresses(const std::vector<std::string>& forms, std::vector<std::string>& params) {
    if (forms.empty()) return {};
    return " AND e.address IN (" + List(forms, params) + ")";
  }

  Result<> Each(const std::string& sql, const std::vector<std::string>& params, const EachRow& each) {
    Result<std::vector<WebDb::Row>> rows = db_.Query(sql, params);
    if (!rows) return rows.problem();
    ReportRow row;
    for (const WebDb::Row& c : *rows) {
      ToRow(c, row);
      if (!each(row)) break;
    }
    return {};
  }

  WebDb& db_;
  std::string station_;
  std::unordered_map<std::string, std::unordered_set<std::uint64_t>> named_;  // by station
};

}  // namespace

Result<ReportLoad> LoadHubReport(WebDb& db, const std::string& station, const ReportQuery& q,
                                 const PriorityTable& table) {
  ReportLoad load;
  ReportData& d = load.data;
  d.from = q.from;
  d.to = q.to;
  for (const Priority& p : table.priorities()) d.priorities.push_back({p.name, p.title, p.colour});
  load.notes.push_back("Пороги взяты по умолчанию (" + std::to_string(d.thresholds.ackSeconds) + " с и " +
                       std::to_string(d.thresholds.closeSeconds) +
                       " с), приоритеты и их цвета — по таблице, поставляемой с программой: хаб не хранит"
                       " настроек консолей");
  HubStoreSource source(db, station);
  Result<> filled = FillReportData(source, q, table, load);
  if (!filled) {
    const Problem& p = filled.problem();
    return Problem("Хранилище хаба не читается: " + p.text + "; попробуйте ещё раз через минуту", p.cause, p.code);
  }
  return load;
}

}  // namespace pelvaron
