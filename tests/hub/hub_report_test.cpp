// The reports over the hub's store: a console's events, sent as the console
// publishes them, give the hub the report the console's own store gives.
// Faults caught: an alarm's repeats counted again or an alarm open since
// before the range counted; its acknowledgement, actions or close (also
// after the range) lost or doubled; the alarm members of the event's JSON
// not reaching the store's columns; intervals or openings lost; a store made
// before the columns refused or left without them.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <ctime>
#include <filesystem>

#include "events/event_json.h"
#include "hub/hub_store.h"
#include "hub/web/hub_report.h"
#include "reports/report_formats.h"
#include "reports/report_store_seed.h"
#include "test_postgres.h"

namespace pelvaron {
namespace {

constexpr std::int64_t S = 1796619600;  // a shift's start
constexpr std::int64_t kEnd = S + 12 * 3600;

std::string IsoUtc(std::int64_t time) {
  const std::time_t t = static_cast<std::time_t>(time);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

class HubReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string dir = (std::filesystem::temp_directory_path() / "pelvaron-hub-report-XXXXXX").string();
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    dir_ = dir;
    // The console's store, and each event as the console publishes it.
    EventStore store;
    ASSERT_TRUE(store.Open(dir_ + "/events.sqlite", EventStore::Mode::ReadWrite));
    testing::StoreSeed put(store);
    put.also = [this](Event e, const StoredClass& cls) {
      if (e.kind == EventKind::Message && cls.role != 0) {
        e.alarmRole = static_cast<std::uint8_t>(cls.role);
        e.priority = cls.priority;
        e.alarmKey = cls.key;
      }
      e.timeText = IsoUtc(e.time);
      Result<HubEvent> parsed = ParseHubEvent(e.station, EventJson(e));
      ASSERT_TRUE(parsed) << parsed.problem().text;
      published_.push_back(std::move(*parsed));
    };
    ids_ = testing::SeedShift(put, S);
    // Closed before the range: its key's next alarm in the range is new.
    const std::uint64_t closed = put.Alarm(S - 600, "0078", "fire", "k111");
    put.Handle(S - 300, EventKind::AlarmClosed, closed, "0078", "real", "", "Иванова");
    reopened_ = put.Alarm(S + 50, "0078", "fire", "k111");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // The report's data and its JSON, from the console's store.
  std::pair<ReportData, std::string> Console(ReportKind kind, const std::string& address = {}) {
    ReportQuery q;
    q.from = S;
    q.to = kEnd;
    q.address = address;
    q.eventStore = dir_ + "/events.sqlite";
    Result<ReportLoad> load = LoadReportData(q, PriorityTable::Defaults());
    EXPECT_TRUE(load) << (load ? "" : load.problem().Told());
    if (!load) return {};
    return {load->data, RenderReport(load->data, kind, ReportFormat::Json, load->address)};
  }
  std::string Hub(const std::string& where, ReportKind kind, const std::string& station,
                  const std::string& address = {}) {
    Result<std::unique_ptr<WebDb>> db = OpenWebDb(where);
    EXPECT_TRUE(db) << (db ? "" : db.problem().Told());
    if (!db) return {};
    ReportQuery q;
    q.from = S;
    q.to = kEnd;
    q.address = address;
    Result<ReportLoad> load = LoadHubReport(**db, station, q, PriorityTable::Defaults());
    EXPECT_TRUE(load) << (load ? "" : load.problem().Told());
    if (!load) return {};
    EXPECT_NE(load->notes.at(0).find("по умолчанию"), std::string::npos);
    return RenderReport(load->data, kind, ReportFormat::Json, load->address);
  }

  std::string dir_;
  std::vector<HubEvent> published_;
  testing::SeededShift ids_;
  std::uint64_t reopened_ = 0;
};

TEST_F(HubReportTest, TheHubsStoreGivesTheConsolesReport) {
  // The console's own report is what it should be, so that equal means right.
  const auto [shift, shiftJson] = Console(ReportKind::Shift);
  ASSERT_EQ(shift.alarms.size(), 4u);
  EXPECT_EQ(shift.alarms[0].id, ids_.fire);
  EXPECT_EQ(shift.alarms[0].actions.size(), 1u);
  EXPECT_EQ(shift.alarms[1].id, reopened_);
  EXPECT_EQ(shift.alarms[3].closed, kEnd + 600);
  const auto [object, objectJson] = Console(ReportKind::Object, "12");
  EXPECT_EQ(object.openings.size(), 2u);
  // Only the messages the queue takes carry the alarm's members.
  std::size_t marked = 0, restores = 0;
  for (const HubEvent& e : published_) {
    restores += e.alarmRole == 2;
    const bool alarm = e.json.find("\"priority\"") != std::string::npos;
    EXPECT_EQ(alarm, e.alarmRole == 1 || e.alarmRole == 2) << e.json;
    EXPECT_EQ(alarm, e.json.find("\"alarm_key\"") != std::string::npos) << e.json;
    marked += alarm;
  }
  EXPECT_EQ(marked, 11u);  // nine alarms, an opening and a closing
  EXPECT_EQ(restores, 1u);

  testing::TestPostgres postgres;
  struct Store {
    const char* name;
    std::string where;
  };
  std::vector<Store> stores = {{"SQLite", dir_ + "/hub.sqlite"}};
  if (const std::string why = postgres.Start(); why.empty()) {
    stores.push_back({"PostgreSQL", postgres.Url()});
  } else {
    ADD_FAILURE() << "PostgreSQL: " << why;
  }
  for (const Store& s : stores) {
    SCOPED_TRACE(s.name);
    Result<std::unique_ptr<HubStore>> store = OpenHubStore(s.where);
    ASSERT_TRUE(store) << store.problem().Told();
    // Twice, as a broker repeats: stored once.
    ASSERT_TRUE((*store)->Write(published_, {}));
    ASSERT_TRUE((*store)->Write(published_, {}));
    EXPECT_EQ(Hub(s.where, ReportKind::Shift, "Пульт"), shiftJson);
    EXPECT_EQ(Hub(s.where, ReportKind::Shift, ""), shiftJson);
    EXPECT_EQ(Hub(s.where, ReportKind::Object, "Пульт", "12"), objectJson);
  }
}

TEST_F(HubReportTest, AStoreMadeBeforeTheAlarmColumnsGainsThem) {
  const std::string path = dir_ + "/old.sqlite";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  const std::string insert =
      "CREATE TABLE events(station TEXT NOT NULL, seq INTEGER NOT NULL, time INTEGER NOT NULL,"
      " time_text TEXT NOT NULL, kind TEXT NOT NULL, address TEXT, text TEXT, command TEXT, detail TEXT,"
      " ref INTEGER, operator TEXT, json TEXT NOT NULL, PRIMARY KEY (station, seq));"
      "INSERT INTO events VALUES ('s1', 1, 100, 't', 'message', '0012', 'x', NULL, NULL, NULL, NULL, '{}'),"
      " ('s1', 2, 110, 't', 'alarm-closed', '0012', 'x', 'real', NULL, 1, 'Иванова', '{}')";
  ASSERT_EQ(sqlite3_exec(db, insert.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);

  Result<std::unique_ptr<HubStore>> store = OpenHubStore(path);
  ASSERT_TRUE(store) << store.problem().Told();
  ASSERT_TRUE((*store)->Write({published_.begin(), published_.begin() + 3}, {}));
  Result<std::unique_ptr<WebDb>> read = OpenWebDb(path);
  ASSERT_TRUE(read);
  Result<std::vector<WebDb::Row>> rows = (*read)->Query("SELECT station, seq, alarm, priority FROM events ORDER BY station, seq");
  ASSERT_TRUE(rows) << rows.problem().Told();
  const std::vector<WebDb::Row> expected = {
      {"s1", "1", "0", ""}, {"s1", "2", "5", ""},  // the close known by its kind
      {"Пульт", "1", "0", ""}, {"Пульт", "2", "1", "burglary"}, {"Пульт", "3", "0", ""}};
  EXPECT_EQ(*rows, expected);
}

}  // namespace
}  // namespace pelvaron
