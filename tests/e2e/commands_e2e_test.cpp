// The alarm desk handled through a real broker (the mosquitto program): an
// alarm from pelvaron-sim acknowledged, acted on and closed by requests, each
// in the name of the operator who asked, in the protocol file, the store and
// the events; a request heard three times, and again after a restart, done
// once and answered alike; a close without an outcome refused; a console
// without --mqtt-commands not listening; the alarms and the plans on the
// broker.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <span>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "core/cp1251.h"
#include "station/station_store.h"
#include "store/event_store.h"
#include "support/mqtt/test_broker.h"
#include "support/strict_json.h"

namespace pelvaron::testing {
namespace {

#if defined(PELVARON_HEADLESS_PROGRAM) && defined(PELVARON_SIM_PROGRAM)

namespace fs = std::filesystem;

const std::string kBase = "pelvaron/desk/";

class CommandsEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TestBroker::Available()) GTEST_SKIP() << "no mosquitto program (scripts/ensure-deps.sh installs it)";
    std::string pattern = (fs::temp_directory_path() / "pelvaron-e2e-commands-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
    dir_ = pattern;
    std::string error;
    ASSERT_TRUE(broker_.Start(&error)) << error;
    ASSERT_TRUE(watcher_.Start());
  }
  void TearDown() override {
    if (HasFailure()) {
      std::cerr << "The run's files are kept in " << dir_ << "\nbroker:\n" << broker_.Log() << "\n";
      if (console_) std::cerr << "console stderr:\n" << console_->Err() << "\n";
    } else if (!dir_.empty()) {
      std::error_code ignored;
      fs::remove_all(dir_, ignored);
    }
  }

  void StartConsole(const std::string& device, bool commands) {
    std::vector<std::string> args = {PELVARON_HEADLESS_PROGRAM, "--tick-ms", "20", "--station", "desk",
                                     "--device", "COM1=" + device, "--mqtt", broker_.Url()};
    if (commands) args.push_back("--mqtt-commands");
    std::string error;
    console_ = ChildProcess::Start(args, dir_, &error);
    ASSERT_TRUE(console_) << error;
    ++runs_;
    // "online" follows the subscriptions on the one connection.
    ASSERT_TRUE(watcher_.WaitFor([&](auto& all) {
      const auto online = PayloadsOn(all, kBase + "online");
      return std::count(online.begin(), online.end(), "online") >= runs_;
    }));
  }
  void StopConsole() {
    ASSERT_TRUE(console_->Signal(SIGINT));
    ASSERT_TRUE(PumpUntil({console_.get()}, [&] { return console_->Exited(); }, SecondsFromNow(30)));
    EXPECT_EQ(console_->StatusText(), "exit 0");
  }
  void Ask(const std::string& verb, const std::string& payload) {
    ASSERT_TRUE(PublishOnce(broker_.Port(), kBase + "command/" + verb, payload));
  }
  // The answers heard so far, waiting for count of them.
  std::vector<std::string> Results(std::size_t count) {
    EXPECT_TRUE(watcher_.WaitFor([&](auto& all) { return PayloadsOn(all, kBase + "command/result").size() >= count; }))
        << console_->Err();
    return watcher_.On(kBase + "command/result");
  }
  // The last alarms payload once it satisfies done.
  Json AlarmsWhen(const std::function<bool(const Json&)>& done) {
    Json last;
    EXPECT_TRUE(watcher_.WaitFor([&](auto& all) {
      const auto payloads = PayloadsOn(all, kBase + "alarms");
      if (payloads.empty()) return false;
      const auto parsed = ParseJson(payloads.back());
      if (!parsed) return false;
      last = *parsed;
      return done(last);
    })) << last.dump();
    return last;
  }

  fs::path dir_;
  TestBroker broker_;
  TestSubscriber watcher_{broker_.Port(), kBase + "#", "e2e-desk-watcher", false};
  std::unique_ptr<ChildProcess> console_;
  long runs_ = 0;
};

TEST_F(CommandsEndToEndTest, RequestsAreDoneOnceInTheAskersNameAndAnsweredAlike) {
  std::ofstream(dir_ / "e2e.scn") << "wait 1500ms\ncontact-id addr=1234 new code=130 part=1 zone=5\nwait 300s\nexit\n";
  std::string error;
  auto sim = ChildProcess::Start({PELVARON_SIM_PROGRAM, "--scenario", "e2e.scn", "--link", (dir_ / "receiver").string()},
                                 dir_, &error);
  ASSERT_TRUE(sim) << error;
  ASSERT_TRUE(PumpUntil({sim.get()}, [&] { return sim->Out().find('\n') != std::string::npos; }, SecondsFromNow(20)));

  // Without --mqtt-commands the console does not listen: a request is nobody's.
  ASSERT_NO_FATAL_FAILURE(StartConsole((dir_ / "receiver").string(), false));
  const Json raised = AlarmsWhen([](const Json& a) { return a["alarms"].size() == 1; });
  const std::uint64_t id = raised["alarms"][0]["id"].get<std::uint64_t>();
  EXPECT_EQ(raised["alarms"][0]["address"], "1234");
  EXPECT_EQ(raised["alarms"][0]["acknowledged"], false);
  const std::string ref = std::to_string(id);
  Ask("ack", R"({"request":"r0","operator":"Сидоров","ref":)" + ref + "}");
  EXPECT_EQ(broker_.Log().find("command/+"), std::string::npos) << broker_.Log();
  ASSERT_NO_FATAL_FAILURE(StopConsole());
  sim.reset();

  // With it, a plan to show, and the alarm put back from the store.
  {
    StationStore station;
    ASSERT_TRUE(station.Open((dir_ / "station.sqlite").string(), StationStore::Mode::ReadWrite));
    ASSERT_TRUE(station.SavePlan({"1234", "", "Позвонить владельцу", {{"Иванов", "владелец", {"+7 900 000-00-00"}}}, "ГБР-1", "02"}));
  }
  const std::string nowhere = (dir_ / "no-receiver").string();
  ASSERT_NO_FATAL_FAILURE(StartConsole(nowhere, true));
  EXPECT_NE(broker_.Log().find(" 1 " + kBase + "command/+"), std::string::npos) << broker_.Log();
  struct Case {
    const char* verb;
    std::string payload;
    std::string result;
  };
  const std::string who = R"(","operator":"Петров","ref":)" + ref;
  const std::string ack = R"({"request":"r1)" + who + R"(,"note":"вижу"})";
  const Case cases[] = {
      {"ack", ack, R"({"request":"r1","status":"accepted"})"},
      {"ack", ack, R"({"request":"r1","status":"accepted"})"},
      {"ack", ack, R"({"request":"r1","status":"accepted"})"},
      {"close", R"({"request":"r2)" + who + "}",
       R"({"request":"r2","status":"refused","reason":"Тревога №)" + ref + R"( не закрыта: итог не выбран."})"},
      {"action", R"({"request":"r3)" + who + R"(,"action":"guard-sent","detail":"ГБР-1"})",
       R"({"request":"r3","status":"accepted"})"},
      {"close", R"({"request":"r4)" + who + R"(,"outcome":"real"})", R"({"request":"r4","status":"accepted"})"},
  };
  // The acknowledgement shows on the broker before the rest is asked for.
  for (const Case& c : std::span(cases).first(3)) Ask(c.verb, c.payload);
  AlarmsWhen([](const Json& a) { return a["alarms"].size() == 1 && a["alarms"][0]["acknowledged"] == true; });
  for (const Case& c : std::span(cases).subspan(3)) Ask(c.verb, c.payload);
  std::vector<std::string> results = Results(std::size(cases));
  ASSERT_EQ(results.size(), std::size(cases));
  for (std::size_t i = 0; i < results.size(); ++i) EXPECT_EQ(results[i], cases[i].result) << cases[i].payload;
  // The queue as it went: the alarm, then in hand, then gone.
  AlarmsWhen([](const Json& a) { return a["alarms"].empty(); });
  std::vector<std::string> states;
  for (const std::string& payload : watcher_.On(kBase + "alarms")) {
    const Json a = *ParseJson(payload);
    const std::string state = a["alarms"].empty() ? "none" : a["alarms"][0]["acknowledged"] == true
                                                                 ? "acknowledged by " + a["alarms"][0]["ack_operator"].get<std::string>()
                                                                 : "waiting";
    // Before the alarm came, the queue may have been shown empty.
    if ((states.empty() && state != "none") || (!states.empty() && states.back() != state)) states.push_back(state);
  }
  EXPECT_EQ(states, (std::vector<std::string>{"waiting", "acknowledged by Петров", "none"}));
  const auto plans = watcher_.On(kBase + "plans");
  ASSERT_FALSE(plans.empty());
  EXPECT_EQ((*ParseJson(plans.back()))["plans"][0]["key_holders"][0]["name"], "Иванов");
  ASSERT_NO_FATAL_FAILURE(StopConsole());

  // After a restart a request heard again is answered as before, not done again.
  ASSERT_NO_FATAL_FAILURE(StartConsole(nowhere, true));
  Ask("ack", ack);
  Ask("close", cases[3].payload);
  results = Results(std::size(cases) + 2);
  ASSERT_EQ(results.size(), std::size(cases) + 2);
  EXPECT_EQ(results[6], cases[0].result);
  EXPECT_EQ(results[7], cases[3].result);
  ASSERT_NO_FATAL_FAILURE(StopConsole());

  // Recorded once each, in Петров's name, as the window records them.
  EventStore store;
  ASSERT_TRUE(store.Open((dir_ / "events.sqlite").string(), EventStore::Mode::ReadOnly));
  auto all = store.AllInOrder();
  ASSERT_TRUE(all);
  std::vector<std::string> handled;
  for (const StoredEvent& e : *all) {
    if (e.ref == id && e.kind.rfind("alarm-", 0) == 0) handled.push_back(e.kind + " " + e.command + " " + e.operatorName);
  }
  EXPECT_EQ(handled, (std::vector<std::string>{"alarm-acknowledged pelvaron-hub Петров", "alarm-action guard-sent Петров",
                                               "alarm-closed real Петров"}));
  int published = 0;
  for (const std::string& event : watcher_.On(kBase + "event")) {
    const Json e = *ParseJson(event);
    published += e.contains("ref") && e["ref"] == id && e.value("operator", "") == "Петров";
  }
  EXPECT_EQ(published, 3);
  std::ifstream in(dir_ / "protocol.txt", std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  const std::string protocol = Cp1251ToUtf8(bytes.str());
  for (const std::string& line :
       {"Подтверждена тревога №" + ref + " (pelvaron-hub), объект '1234'\r\n    Охранная тревога\r\n    Примечание: "
                                         "вижу\r\n    Оператор: Петров\r\n",
        "Действие по тревоге №" + ref + ", объект '1234'\r\n    Выслана группа: ГБР-1\r\n    Оператор: Петров\r\n",
        "Закрыта тревога №" + ref + ", объект '1234'\r\n    Итог: Реальная тревога\r\n    Оператор: Петров\r\n"}) {
    EXPECT_NE(protocol.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(protocol.find("Сидоров"), std::string::npos);

  // Asked again for its events (heard without --mqtt-commands: it only
  // reads), the console sends each as it went out first, in order, then how
  // many and the last; a range past its events gets none.
  auto highest = store.HighestSeq();
  ASSERT_TRUE(highest);
  const std::int64_t last = static_cast<std::int64_t>(*highest);
  std::map<std::int64_t, std::string> firstOut;
  for (const std::string& event : watcher_.On(kBase + "event")) firstOut.emplace((*ParseJson(event))["seq"], event);
  ASSERT_GE(firstOut.size(), 3u);
  ASSERT_EQ(firstOut.rbegin()->first, last) << "every event went out before";
  // All but the first (each run numbers on past what the one before reserved).
  const std::int64_t from = std::next(firstOut.begin())->first;
  ASSERT_NO_FATAL_FAILURE(StartConsole(nowhere, false));
  Ask("replay", R"({"request":"p1","from":)" + std::to_string(from) + R"(,"to":)" + std::to_string(last) + "}");
  Ask("replay", R"({"request":"p2","from":)" + std::to_string(last + 1000) + "}");
  results = Results(std::size(cases) + 4);
  ASSERT_EQ(results.size(), std::size(cases) + 4);
  EXPECT_EQ(results[8], R"({"request":"p1","status":"accepted","count":)" + std::to_string(firstOut.size() - 1) +
                            R"(,"last":)" + std::to_string(last) + "}");
  EXPECT_EQ(results[9], R"({"request":"p2","status":"accepted","count":0,"last":0})");
  std::vector<std::string> again, expected;
  long onlines = 0;  // sent again: after the last run came online, before its answer
  for (const ReceivedMessage& m : watcher_.Messages()) {
    if (m.topic == kBase + "command/result" && m.payload.find("\"p1\"") != std::string::npos) break;
    onlines += m.topic == kBase + "online" && m.payload == "online";
    const auto seq = m.topic == kBase + "event" ? (*ParseJson(m.payload))["seq"].get<std::int64_t>() : 0;
    if (onlines == runs_ && seq >= from && seq <= last) again.push_back(m.payload);
  }
  for (const auto& [seq, payload] : firstOut) {
    if (seq >= from) expected.push_back(payload);
  }
  EXPECT_EQ(again, expected);
  ASSERT_NO_FATAL_FAILURE(StopConsole());
}

#endif

}  // namespace
}  // namespace pelvaron::testing
