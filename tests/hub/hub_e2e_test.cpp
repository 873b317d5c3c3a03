// The station as it runs: a real broker, two headless consoles on
// simulators, and pelvaron-hub storing into SQLite or into a PostgreSQL
// started here; the broker (forgetting what it held), the hub and its store
// taken away in the middle, the hub killed outright once.
#include <gtest/gtest.h>
#include <httplib.h>
#include <mosquitto.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "../e2e/child_process.h"
#include "hub/hub_store.h"
#include "hub/web/hub_report.h"
#include "hub/web/user_store.h"
#include "reports/report_formats.h"
#include "objects/object_registry.h"
#include "support/mqtt/test_broker.h"
#include "support/strict_json.h"
#include "test_postgres.h"

namespace pelvaron::testing {
namespace {

namespace fs = std::filesystem;

// Frames without end, a few a second.
const char kTraffic[] =
    "wait 150ms\n"
    "contact-id addr=1234 new code=130 part=1 zone=5\n"
    "wait 150ms\n"
    "loop-state addr=12 kind=2 guard=3 armed1 linked1\n"
    "loop\n";

struct ConsoleCase {
  const char* station;
  std::vector<std::string> objects;
};
const ConsoleCase kConsoles[] = {{"east", {"0012", "0105"}}, {"west", {"0301"}}};

void WriteObjects(const fs::path& file, const std::vector<std::string>& addresses) {
  ObjectTable table;
  table.fill(BlankObjectRecord());
  int slot = 1;
  for (const std::string& address : addresses) {
    ObjectRecord& r = table[slot++];
    r = ObjectRecord{};
    std::memcpy(r.szAddress, address.data(), std::min(address.size(), sizeof r.szAddress));
    r.bUsed = 1;
    r.bControl = 1;
    r.nPeriod = 60;
    r.bRegistered = 1;
  }
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(table.data()), sizeof table);
}

// The seqs a console wrote to its events file: everything it made.
std::vector<std::int64_t> SeqsOfFile(const fs::path& file) {
  std::ifstream in(file);
  std::vector<std::int64_t> seqs;
  for (std::string line; std::getline(in, line);) {
    if (const auto json = ParseJson(line)) seqs.push_back(json->at("seq").get<std::int64_t>());
  }
  return seqs;
}

// An event as a console would publish it (QoS 1, not retained).
bool PublishEvent(int port, const std::string& station, std::int64_t seq, const std::string& kind) {
  const std::string topic = "pelvaron/" + station + "/event";
  const std::string payload = "{\"seq\":" + std::to_string(seq) + ",\"time\":\"2026-12-07T10:00:00+03:00\",\"station\":\"" +
                              station + "\",\"kind\":\"" + kind + "\",\"text\":\"\"}";
  mosquitto_lib_init();
  struct mosquitto* client = mosquitto_new(nullptr, true, nullptr);
  bool done = false;
  mosquitto_user_data_set(client, &done);
  mosquitto_publish_callback_set(client, [](struct mosquitto*, void* flag, int) { *static_cast<bool*>(flag) = true; });
  bool ok = mosquitto_connect(client, "127.0.0.1", port, 30) == MOSQ_ERR_SUCCESS &&
            mosquitto_publish(client, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                              false) == MOSQ_ERR_SUCCESS;
  for (int turns = 0; ok && !done && turns < 100; ++turns) ok = mosquitto_loop(client, 100, 1) == MOSQ_ERR_SUCCESS;
  mosquitto_disconnect(client);
  mosquitto_destroy(client);
  return ok && done;
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// What a picture says of each station: "online link objects..." .
std::map<std::string, std::string> Summary(const std::string& pictureJson) {
  std::map<std::string, std::string> summary;
  const auto picture = ParseJson(pictureJson);
  if (!picture || !picture->contains("stations")) return summary;
  for (const Json& s : picture->at("stations")) {
    std::string line = s.at("online").get<bool>() ? "online" : "offline";
    const bool linkSaid = s.at("link").is_string() && !s.at("link").get<std::string>().empty();
    line += " " + (linkSaid ? s.at("link").get<std::string>() : "-");
    for (const Json& object : s.at("objects")) line += " " + object.at("address").get<std::string>();
    // The consoles' own queues follow their simulators' traffic: only whether one is there.
    line += s.at("alarms").empty() ? " no alarms" : " alarms";
    summary[s.at("station").get<std::string>()] = line;
  }
  return summary;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct StoreCase {
  const char* name;
  bool postgres;
};

class HubEndToEndTest : public ::testing::TestWithParam<StoreCase> {
 protected:
  void SetUp() override {
    if (!TestBroker::Available()) GTEST_SKIP() << "no mosquitto program (scripts/ensure-deps.sh installs it)";
    if (GetParam().postgres) {
      const std::string why = postgres_.Start();
      if (!why.empty()) GTEST_SKIP() << "PostgreSQL cannot run here: " << why;
      store_ = postgres_.Url();
    }
    std::string pattern = (fs::temp_directory_path() / "pelvaron-hub-e2e-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fs::create_directory(dir_ / "hub");
    if (store_.empty()) store_ = (dir_ / "hub" / kHubStoreFileName).string();
  }
  void TearDown() override {
    if (HasFailure()) {
      std::cerr << "Kept in " << dir_ << "\n";
      if (hub_) std::cerr << "hub stderr:\n" << hubLog_ << hub_->Err() << "\n";
      for (auto& c : consoles_) std::cerr << "console stderr:\n" << c->Err() << "\n";
    } else if (!dir_.empty()) {
      std::error_code ignored;
      fs::remove_all(dir_, ignored);
    }
  }

  std::vector<std::string> HubArgs() const {
    // A web port of its own: the stores' runs go side by side.
    return {PELVARON_HUB_PROGRAM, "--mqtt", broker_.Url(), "--store", store_, "--mqtt-client-id",
            std::string("hub-e2e-") + GetParam().name, "--listen", "127.0.0.1:" + std::to_string(webPort_)};
  }
  void StartHub() {
    std::string error;
    hub_ = ChildProcess::Start(HubArgs(), (dir_ / "hub").string(), &error);
    ASSERT_TRUE(hub_) << error;
    ASSERT_TRUE(PumpUntil(All(), [&] { return hub_->Err().find("получает события") != std::string::npos; },
                          SecondsFromNow(30)));
  }
  void StartConsole(const ConsoleCase& c) {
    const fs::path home = dir_ / c.station;
    fs::create_directory(home);
    WriteObjects(home / "objects.stt", c.objects);
    std::ofstream(home / "traffic.scn") << kTraffic;
    std::string error;
    sims_.push_back(ChildProcess::Start({PELVARON_SIM_PROGRAM, "--scenario", "traffic.scn", "--link", "receiver"},
                                        home.string(), &error));
    ASSERT_TRUE(sims_.back()) << error;
    consoles_.push_back(ChildProcess::Start({PELVARON_HEADLESS_PROGRAM, "--tick-ms", "20", "--station", c.station,
                                             "--device", "COM1=" + (home / "receiver").string(), "--mqtt",
                                             broker_.Url(), "--events", "events.jsonl"},
                                            home.string(), &error));
    ASSERT_TRUE(consoles_.back()) << error;
  }
  std::vector<ChildProcess*> All() {
    std::vector<ChildProcess*> all;
    for (auto& s : sims_) all.push_back(s.get());
    for (auto& c : consoles_) all.push_back(c.get());
    if (hub_) all.push_back(hub_.get());
    return all;
  }
  // Each console has made `more` events since this was last asked.
  bool MoreEvents(std::size_t more) {
    return PumpUntil(All(), [&] {
      for (const ConsoleCase& c : kConsoles) {
        if (SeqsOfFile(dir_ / c.station / "events.jsonl").size() < seen_[c.station] + more) return false;
      }
      for (const ConsoleCase& c : kConsoles) seen_[c.station] = SeqsOfFile(dir_ / c.station / "events.jsonl").size();
      return true;
    }, SecondsFromNow(60));
  }

  // The store away: PostgreSQL stopped, or the SQLite file locked by a writer of the test's.
  void TakeStoreAway() {
    if (GetParam().postgres) return postgres_.Stop();
    ASSERT_EQ(sqlite3_open(store_.c_str(), &locker_), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(locker_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  }
  void BringStoreBack() {
    if (GetParam().postgres) {
      ASSERT_EQ(postgres_.Start(), "");
      return;
    }
    sqlite3_exec(locker_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(locker_);
    locker_ = nullptr;
  }

  TestPostgres postgres_;
  TestBroker broker_{false};  // a restart forgets the hub's session
  sqlite3* locker_ = nullptr;
  const int webPort_ = FreePort();
  std::string store_;
  fs::path dir_;
  std::unique_ptr<ChildProcess> hub_;
  std::string hubLog_;  // what earlier runs of the hub said
  std::vector<std::unique_ptr<ChildProcess>> sims_, consoles_;
  std::map<std::string, std::size_t> seen_;
};

TEST_P(HubEndToEndTest, EveryEventOfTwoConsolesIsStoredOnceAcrossRestartsAndThePictureShowsThem) {
  std::string error;
  ASSERT_TRUE(broker_.Start(&error)) << error;
  ASSERT_NO_FATAL_FAILURE(StartHub());
  for (const ConsoleCase& c : kConsoles) ASSERT_NO_FATAL_FAILURE(StartConsole(c));
  // A queue retained for a console that is not running (yet) is in the picture too.
  ASSERT_TRUE(PublishRetained(broker_.Port(), "pelvaron/north/alarms", R"({"alarms":[{"id":7,"address":"1234"}]})"));

  // The picture, in the hub's file and printed by --picture.
  const std::map<std::string, std::string> expected = {{"east", "online ok 0012 0105 alarms"},
                                                       {"north", "offline - alarms"},
                                                       {"west", "online ok 0301 alarms"}};
  ASSERT_TRUE(PumpUntil(All(), [&] { return Summary(ReadFile(dir_ / "hub" / "picture.json")) == expected; },
                        SecondsFromNow(60)))
      << ReadFile(dir_ / "hub" / "picture.json");
  auto view = ChildProcess::Start({PELVARON_HUB_PROGRAM, "--mqtt", broker_.Url(), "--picture"}, dir_.string(), &error);
  ASSERT_TRUE(view) << error;
  ASSERT_TRUE(PumpUntil({view.get()}, [&] { return view->Exited(); }, SecondsFromNow(30)));
  EXPECT_EQ(view->StatusText(), "exit 0") << view->Err();
  EXPECT_EQ(Summary(view->Out()), expected) << view->Out();

  // Traffic across a restart of the broker, then of the hub (the broker
  // keeping only a few events for it meanwhile).
  ASSERT_TRUE(MoreEvents(10));
  broker_.Stop();
  ASSERT_TRUE(MoreEvents(10));
  ASSERT_TRUE(broker_.Start(&error)) << error;
  ASSERT_TRUE(MoreEvents(10));
  ASSERT_TRUE(hub_->Signal(SIGTERM));
  ASSERT_TRUE(PumpUntil(All(), [&] { return hub_->Exited(); }, SecondsFromNow(30)));
  EXPECT_EQ(hub_->StatusText(), "exit 0");
  EXPECT_NE(hub_->Err().find("Хаб станции остановлен"), std::string::npos) << hub_->Err();
  hubLog_ += hub_->Err();
  ASSERT_TRUE(MoreEvents(10));
  ASSERT_NO_FATAL_FAILURE(StartHub());
  ASSERT_TRUE(MoreEvents(10));

  // Killed while events it has taken from the broker wait for its store.
  ASSERT_NO_FATAL_FAILURE(TakeStoreAway());
  ASSERT_TRUE(PumpUntil(All(), [&] { return hub_->Err().find("Не удалось записать события") != std::string::npos; },
                        SecondsFromNow(60)))
      << hub_->Err();
  ASSERT_TRUE(hub_->Signal(SIGKILL));
  ASSERT_TRUE(PumpUntil(All(), [&] { return hub_->Exited(); }, SecondsFromNow(30)));
  hubLog_ += hub_->Err();
  ASSERT_NO_FATAL_FAILURE(BringStoreBack());
  ASSERT_TRUE(MoreEvents(10));
  ASSERT_NO_FATAL_FAILURE(StartHub());
  ASSERT_TRUE(MoreEvents(10));

  // A console that skipped numbers within a run; a repeat; a new run.
  for (const auto& [seq, kind] : std::vector<std::pair<int, std::string>>{
           {1, "console-started"}, {2, "message"}, {5, "message"}, {5, "message"}, {2001, "console-started"}}) {
    ASSERT_TRUE(PublishEvent(broker_.Port(), "gapped", seq, kind));
  }

  for (auto& c : consoles_) ASSERT_TRUE(c->Signal(SIGINT));
  ASSERT_TRUE(PumpUntil(All(), [&] {
    for (auto& c : consoles_) if (!c->Exited()) return false;
    return true;
  }, SecondsFromNow(30)));

  Result<std::unique_ptr<HubStore>> store = OpenHubStore(store_);
  ASSERT_TRUE(store) << store.problem().Told();
  std::map<std::string, std::vector<std::int64_t>> made, stored;
  for (const ConsoleCase& c : kConsoles) made[c.station] = SeqsOfFile(dir_ / c.station / "events.jsonl");
  made["gapped"] = {1, 2, 5, 2001};
  const bool all = PumpUntil(All(), [&] {
    for (const auto& [station, seqs] : made) {
      Result<std::vector<std::int64_t>> got = (*store)->Seqs(station);
      stored[station] = got ? *got : std::vector<std::int64_t>{};
    }
    return stored == made;
  }, SecondsFromNow(60));
  for (const auto& [station, seqs] : made) {
    EXPECT_EQ(stored[station], seqs) << station << ": made " << seqs.size() << ", stored " << stored[station].size();
  }
  ASSERT_TRUE(all);
  // The same events make the same report from the hub's store as from the console's.
  for (const ConsoleCase& c : kConsoles) {
    ReportQuery q;
    q.to = static_cast<std::int64_t>(std::time(nullptr)) + 60;
    q.eventStore = (dir_ / c.station / "events.sqlite").string();
    Result<ReportLoad> own = LoadReportData(q, PriorityTable::Defaults());
    ASSERT_TRUE(own) << own.problem().Told();
    EXPECT_FALSE(own->data.alarms.empty()) << c.station;
    Result<std::unique_ptr<WebDb>> db = OpenWebDb(store_);
    ASSERT_TRUE(db) << db.problem().Told();
    Result<ReportLoad> hub = LoadHubReport(**db, c.station, q, PriorityTable::Defaults());
    ASSERT_TRUE(hub) << hub.problem().Told();
    EXPECT_EQ(RenderReport(hub->data, ReportKind::Shift, ReportFormat::Json),
              RenderReport(own->data, ReportKind::Shift, ReportFormat::Json)) << c.station;
  }
  Result<std::vector<SeqGap>> gaps = (*store)->Gaps();
  ASSERT_TRUE(gaps) << gaps.problem().Told();
  ASSERT_EQ(gaps->size(), 1u);
  EXPECT_EQ((*gaps)[0].station, "gapped");
  EXPECT_EQ((*gaps)[0].afterSeq, 2);
  EXPECT_EQ((*gaps)[0].beforeSeq, 5);
  // The consoles' gaps were filled and closed; the one of a console that never answers stays.
  EXPECT_EQ(Count(hubLog_ + hub_->Err(), "Пропуск в событиях консоли gapped"), 1u) << hub_->Err();
  EXPECT_NE(hub_->Err().find("Пропуск в событиях консоли gapped: после №2 пришло №5, не пришло событий: 2."),
            std::string::npos);

  // The consoles said goodbye: the picture shows them offline.
  EXPECT_TRUE(PumpUntil(All(), [&] {
    const auto now = Summary(ReadFile(dir_ / "hub" / "picture.json"));
    return now.count("east") && now.at("east").rfind("offline", 0) == 0 && now.count("west") &&
           now.at("west").rfind("offline", 0) == 0;
  }, SecondsFromNow(30))) << ReadFile(dir_ / "hub" / "picture.json");
}

// PostgreSQL down when the hub starts: it serves the page, says once what is
// wrong, answers what needs the database with 503 and recovers by itself.
TEST(HubWithoutItsDatabase, StartsServesAndRecoversWhenPostgresComes) {
  TestPostgres postgres;
  if (const std::string why = postgres.Start(); !why.empty()) GTEST_SKIP() << "PostgreSQL cannot run here: " << why;
  {
    Result<std::unique_ptr<WebDb>> db = OpenWebDb(postgres.Url());
    ASSERT_TRUE(db) << db.problem().Told();
    Result<UserStore> users = UserStore::Open(**db);
    ASSERT_TRUE(users);
    ASSERT_TRUE(users->Add("oper", Role::Operator, "oper-password"));
  }
  postgres.Stop();
  std::string pattern = (fs::temp_directory_path() / "pelvaron-hub-nodb-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const int webPort = FreePort();
  std::string error;
  auto hub = ChildProcess::Start({PELVARON_HUB_PROGRAM, "--mqtt", "mqtt://127.0.0.1:" + std::to_string(FreePort()),
                                  "--store", postgres.Url(), "--listen", "127.0.0.1:" + std::to_string(webPort)},
                                 pattern, &error);
  ASSERT_TRUE(hub) << error;
  httplib::Client web("127.0.0.1", webPort);
  const std::string signIn = R"({"user":"oper","password":"oper-password"})";
  httplib::Result answer = web.Post("/api/login", signIn, "application/json");
  ASSERT_TRUE(PumpUntil({hub.get()}, [&] {
    answer = web.Post("/api/login", signIn, "application/json");
    return answer && hub->Err().find("Не удалось открыть хранилище событий PostgreSQL") != std::string::npos;
  }, SecondsFromNow(30))) << hub->Err();
  EXPECT_EQ(answer->status, 503) << answer->body;
  EXPECT_NE(answer->body.find("база хаба недоступна"), std::string::npos) << answer->body;

  ASSERT_EQ(postgres.Start(), "");
  ASSERT_TRUE(PumpUntil({hub.get()}, [&] {
    answer = web.Post("/api/login", signIn, "application/json");
    return answer && answer->status == 200;
  }, SecondsFromNow(30))) << hub->Err();
  const std::string cookie = answer->get_header_value("Set-Cookie");
  // History once the hub has made its tables there.
  ASSERT_TRUE(PumpUntil({hub.get()}, [&] { return hub->Err().find("открыто") != std::string::npos; },
                        SecondsFromNow(30))) << hub->Err();
  answer = web.Get("/api/events", httplib::Headers{{"Cookie", cookie.substr(0, cookie.find(';'))}});
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 200) << answer->body;
  EXPECT_EQ(Count(hub->Err(), "Не удалось открыть хранилище событий"), 1u) << hub->Err();
  EXPECT_FALSE(hub->Exited()) << hub->Err();
  ASSERT_TRUE(hub->Signal(SIGTERM));
  ASSERT_TRUE(PumpUntil({hub.get()}, [&] { return hub->Exited(); }, SecondsFromNow(30)));
  std::error_code ignored;
  fs::remove_all(pattern, ignored);
}

INSTANTIATE_TEST_SUITE_P(Stores, HubEndToEndTest,
                         ::testing::Values(StoreCase{"SQLite", false}, StoreCase{"PostgreSQL", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pelvaron::testing
