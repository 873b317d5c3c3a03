// The hub's parts that decide alone: the time column, the gaps of a
// station's numbering, the commands' matching, the picture's objects, what
// is asked of the consoles again and what a console's store sends.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>

#include <nlohmann/json.hpp>

#include "hub/command_sender.h"
#include "hub/hub_event.h"
#include "hub/replay_planner.h"
#include "hub/seq_tracker.h"
#include "hub/station_picture.h"
#include "events/event_json.h"
#include "outputs/sample_events.h"
#include "store/store_replay.h"

namespace pelvaron {
namespace {

TEST(HubEvent, TimesBecomeCalendarSecondsByTheirOffset) {
  const struct {
    const char* text;
    std::optional<std::int64_t> seconds;
  } cases[] = {
      {"2026-12-07T10:22:21+03:00", 1796628141},
      {"2026-12-07T07:22:21Z", 1796628141},
      {"2026-12-06T23:22:21-08:00", 1796628141},
      {"2024-02-29T00:00:00+00:00", 1709164800},
      {"2026-12-07 10:22:21+03:00", std::nullopt},
      {"2026-13-07T10:22:21+03:00", std::nullopt},
      {"2026-12-07T10:22:21", std::nullopt},
      {"2026-12-07T10:22:21+0300", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(IsoTimeSeconds(c.text), c.seconds) << c.text;
}

TEST(HubEvent, APayloadThatIsNoEventIsRefused) {
  EXPECT_FALSE(ParseHubEvent("a", "not json"));
  EXPECT_FALSE(ParseHubEvent("a", R"({"seq":0,"time":"2026-12-07T10:22:21Z","kind":"message"})"));
  EXPECT_FALSE(ParseHubEvent("a", R"({"seq":3,"kind":"message"})"));
  const Result<HubEvent> event =
      ParseHubEvent("a", R"({"seq":3,"time":"2026-12-07T10:22:21Z","kind":"alarm-closed","ref":2,"operator":"Ив"})");
  ASSERT_TRUE(event);
  EXPECT_EQ(event->ref, 2);
  EXPECT_EQ(event->operatorName, "Ив");
  EXPECT_EQ(event->address, "");
}

TEST(SeqTracker, AGapIsToldOnceAndARestartOrARepeatIsNone) {
  const struct {
    const char* name;
    std::int64_t stored;  // the store's highest, 0: none
    std::vector<std::pair<std::int64_t, const char*>> events;
    std::vector<std::pair<std::int64_t, std::int64_t>> gaps;
  } cases[] = {
      {"in order", 0, {{1, "console-started"}, {2, "message"}, {3, "message"}}, {}},
      {"skipped two", 0, {{1, "console-started"}, {2, "message"}, {5, "message"}}, {{2, 5}}},
      {"told once", 0, {{1, "message"}, {4, "message"}, {4, "message"}, {2, "message"}, {5, "message"}}, {{1, 4}}},
      {"a new run jumps", 0, {{7, "message"}, {1001, "console-started"}, {1002, "message"}}, {}},
      {"after the store's last", 40, {{41, "message"}, {43, "message"}}, {{41, 43}}},
      {"repeats of what is stored", 40, {{39, "message"}, {40, "message"}, {41, "message"}}, {}},
  };
  for (const auto& c : cases) {
    SeqTracker tracker;
    if (c.stored > 0) tracker.Know({{"s", c.stored}});
    std::vector<std::pair<std::int64_t, std::int64_t>> gaps;
    for (const auto& [seq, kind] : c.events) {
      HubEvent e;
      e.station = "s";
      e.seq = seq;
      e.kind = kind;
      if (auto gap = tracker.See(e, 100).gap) gaps.emplace_back(gap->afterSeq, gap->beforeSeq);
    }
    EXPECT_EQ(gaps, c.gaps) << c.name;
  }
}

TEST(CommandSender, AnAnswerIsMatchedByRequestAndStationAndSilenceTimesOut) {
  std::vector<std::pair<std::string, std::string>> sent;
  CommandSender sender([&](const std::string& topic, const std::string& payload) {
    sent.emplace_back(topic, payload);
    return true;
  });
  const auto start = CommandSender::Clock::time_point{} + std::chrono::hours(1);
  CommandRequest ack{"east", "ack", "r1", "Иванова", 42, "видел", "", "", ""};
  CommandRequest close{"east", "close", "r2", "Иванова", 42, "", "", "", "real"};
  CommandRequest silent{"west", "action", "r3", "Иванова", 7, "", "guard-sent", "ГБР-3", ""};
  auto acked = sender.Send(ack, start);
  auto closed = sender.Send(close, start);
  auto unanswered = sender.Send(silent, start);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].first, "pelvaron/east/command/ack");
  EXPECT_EQ(sent[0].second, R"({"note":"видел","operator":"Иванова","ref":42,"request":"r1"})");
  EXPECT_EQ(sent[2].second, R"({"action":"guard-sent","detail":"ГБР-3","operator":"Иванова","ref":7,"request":"r3"})");

  sender.Answer("west", R"({"request":"r1","status":"accepted"})");  // another console's word
  sender.Answer("east", R"({"request":"r1","status":"accepted"})");
  sender.Answer("east", R"({"request":"r2","status":"refused","reason":"Тревоги №42 уже нет в очереди"})");
  sender.Expire(start + std::chrono::seconds(9));
  EXPECT_EQ(sender.Waiting(), 1u);
  sender.Expire(start + CommandSender::kTimeout);

  const CommandResult a = acked.get(), c = closed.get(), u = unanswered.get();
  EXPECT_TRUE(a.accepted);
  EXPECT_FALSE(c.accepted);
  EXPECT_EQ(c.reason, "Тревоги №42 уже нет в очереди");
  EXPECT_FALSE(u.accepted);
  EXPECT_EQ(u.reason, CommandSender::kNoAnswer);
}

TEST(CommandSender, AMalformedRequestIsRefusedWithoutBeingSent) {
  const struct {
    CommandRequest request;
    const char* reason;
  } cases[] = {
      {{"east", "ack", "bad id!", "Иванова", 1, "", "", "", ""}, "Неверный номер запроса"},
      {{"east", "ack", "r", "", 1, "", "", "", ""}, "Не указан оператор"},
      {{"east", "ack", "r", "Ива\nнова", 1, "", "", "", ""}, "Не указан оператор"},
      {{"east", "close", "r", "Иванова", 1, "", "", "", ""}, "Не указан итог"},
      {{"east", "action", "r", "Иванова", 1, "", "", "", ""}, "Не указано действие"},
      {{"east", "erase", "r", "Иванова", 1, "", "", "", ""}, "Неизвестная команда"},
      {{"east", "ack", "r", "Иванова", 0, "", "", "", ""}, "Не указан номер тревоги"},
      {{"east", "ack", "r", "Иванова", 1, std::string(5000, 'x'), "", "", ""}, "длиннее 4 КБ"},
  };
  int published = 0;
  CommandSender sender([&](const std::string&, const std::string&) { return ++published > 0; });
  for (const auto& c : cases) {
    const CommandResult result = sender.Send(c.request).get();
    EXPECT_FALSE(result.accepted);
    EXPECT_NE(result.reason.find(c.reason), std::string::npos) << result.reason;
  }
  EXPECT_EQ(published, 0);
}

TEST(StationPicture, RetainedStatesBuildItAndAnEmptyOneRemovesAnObject) {
  StationPicture picture;
  int changes = 0;
  picture.OnChange([&](const std::string&) { ++changes; });
  EXPECT_TRUE(picture.Apply("east", "online", "online"));
  EXPECT_TRUE(picture.Apply("east", "object/0012", R"({"address":"0012","control":"overdue","comment":""})"));
  EXPECT_TRUE(picture.Apply("east", "object/0105", R"({"address":"0105","control":"normal","comment":""})"));
  EXPECT_TRUE(picture.Apply("east", "object/0105", ""));
  EXPECT_TRUE(picture.Apply("east", "plans", R"({"plans":[{"address":"0012"}]})"));
  EXPECT_FALSE(picture.Apply("east", "alarms", "not a list"));
  EXPECT_FALSE(picture.Apply("west", "command/ack", "{}"));
  EXPECT_EQ(changes, 5);
  EXPECT_EQ(picture.Json(),
            R"({"stations":[{"alarms":[],"enclosure":null,"last_event":null,"line":null,"link":null,)"
            R"("objects":[{"address":"0012","comment":"","control":"overdue"}],"online":true,)"
            R"("plans":[{"address":"0012"}],"station":"east"}]})");
}

// Faults: a batch not followed by the next; an open range chasing the live
// events for ever; events the broker dropped taken as sent; two requests out
// at once; a silent console asked again and again, or never again when it
// comes back; another hub's answer taken; a request lost with a connection.
TEST(ReplayPlanner, AsksInTurnBatchByBatchAndWaitsForASilentConsole) {
  using nlohmann::json;
  ReplayPlanner::Clock::time_point now{std::chrono::hours(1)};
  ReplayPlanner planner("hub1");
  std::string id;
  // What goes out after a pause of `wait`: "station from-to" ("" for nothing).
  auto next = [&](auto wait) {
    now += wait;
    const auto request = planner.Next(now);
    if (!request) return std::string();
    const json payload = json::parse(request->payload);
    id = payload["request"];
    return request->topic.substr(9, request->topic.find('/', 9) - 9) + " " + std::to_string(payload["from"].get<long>()) +
           "-" + (payload.contains("to") ? std::to_string(payload["to"].get<long>()) : "");
  };
  const auto pause = ReplayPlanner::kEvery;
  // The console's answer after sending `came` of the numbers (its count says all of them).
  auto answer = [&](const std::string& station, std::vector<std::int64_t> came, std::int64_t count, std::int64_t newest) {
    for (std::int64_t seq : came) planner.Saw(station, seq);
    std::optional<ReplayPlanner::Done> done;
    const std::int64_t last = came.empty() ? 0 : came.back();
    EXPECT_TRUE(planner.Answer(station, json{{"request", id}, {"status", "accepted"}, {"count", count}, {"last", last}}.dump(),
                               newest, now, done));
    return done ? done->station + " " + std::to_string(done->from) + "-" + std::to_string(done->to) +
                      (done->gap ? " gap " : " ") + std::to_string(done->events)
                : std::string();
  };

  planner.Want("a", 11);
  planner.Want("b", 5, 7, true);
  planner.Want("a", 20);  // within a's range to the newest
  EXPECT_EQ(next(pause), "a 11-");
  EXPECT_EQ(next(pause * 5), "") << "one request out at a time";
  EXPECT_EQ(answer("a", {11, 12, 13}, 3, 40), "") << "the newest seen (40) ends the range";
  EXPECT_EQ(next(std::chrono::milliseconds(0)), "b 5-7");
  EXPECT_EQ(answer("b", {}, 0, 9), "b 5-7 gap 0") << "numbers the console never used";
  EXPECT_EQ(next(pause / 2), "") << "at most one request per pause";
  EXPECT_EQ(next(pause), "a 14-40") << "the stations in turn";
  EXPECT_EQ(answer("a", {14, 16}, 3, 41), "") << "one of them lost on the way";
  EXPECT_EQ(next(pause), "a 14-40");
  EXPECT_EQ(answer("a", {14, 15, 16}, 3, 41), "");
  EXPECT_EQ(next(pause), "a 17-40");
  EXPECT_EQ(answer("a", {}, 0, 45), "a 11-40 6");
  EXPECT_EQ(next(pause), "");

  planner.Want("c", 1);
  EXPECT_EQ(next(pause), "c 1-");
  planner.Reconnected();
  EXPECT_EQ(next(pause), "c 1-") << "the request went with the connection";
  EXPECT_EQ(next(ReplayPlanner::kAnswerWait), "") << "no answer: not asked again at once";
  EXPECT_EQ(next(ReplayPlanner::kSilentRetry / 2), "");
  planner.Online("c", true);
  EXPECT_EQ(next(pause), "c 1-") << "back online";
  std::optional<ReplayPlanner::Done> done;
  EXPECT_FALSE(planner.Answer("c", R"({"request":"hub2-1","status":"accepted","count":0,"last":0})", 0, now, done))
      << "another hub's";
  EXPECT_EQ(next(ReplayPlanner::kAnswerWait), "");
  EXPECT_EQ(next(ReplayPlanner::kSilentRetry), "c 1-") << "asked again after a while";
  EXPECT_EQ(planner.Waiting(), 1u);
}

// Faults: an event sent again unlike its first publication (a message's
// decoded members above all); more than the bound at once; a number stored
// twice sent twice; a malformed request left without an answer.
TEST(StoreReplay, SendsWhatWentOutFirstInBoundedBatches) {
  std::string dir = (std::filesystem::temp_directory_path() / "pelvaron-replay-XXXXXX").string();
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  const std::string path = dir + "/events.sqlite";
  const std::vector<Event> events = testing::EveryKind();
  {
    EventStore store;
    ASSERT_TRUE(store.Open(path, EventStore::Mode::ReadWrite));
    ASSERT_TRUE(store.Begin());
    for (const Event& e : events) ASSERT_TRUE(store.Insert(e, {}));
    ASSERT_TRUE(store.Insert(events[2], {}));  // a copy taken in again after a crash
    ASSERT_TRUE(store.Commit());
  }
  constexpr std::size_t kBound = 4;
  StoreReplay replay(path, {}, kBound);
  std::mutex mutex;
  std::condition_variable ready;
  replay.Start([&] {
    std::lock_guard lock(mutex);
    ready.notify_all();
  });
  auto ask = [&](const std::string& payload) {
    EXPECT_TRUE(replay.Ask(payload));
    std::vector<ReplayBatch> batches;
    std::unique_lock lock(mutex);
    // The bound is for a broken reader, never a measure.
    ready.wait_for(lock, std::chrono::seconds(20), [&] { return !(batches = replay.TakeBatches()).empty(); });
    return batches.empty() ? ReplayBatch{} : batches.front();
  };
  std::vector<std::string> sent, expected;
  for (const Event& e : events) expected.push_back(EventJson(e));
  for (std::uint64_t from = 1;;) {
    const ReplayBatch batch = ask(R"({"request":"r)" + std::to_string(from) + R"(","from":)" + std::to_string(from) + "}");
    ASSERT_LE(batch.events.size(), kBound);
    const nlohmann::json result = nlohmann::json::parse(batch.result);
    ASSERT_EQ(result["count"], batch.events.size()) << batch.result;
    if (batch.events.empty()) break;
    sent.insert(sent.end(), batch.events.begin(), batch.events.end());
    from = result["last"].get<std::uint64_t>() + 1;
  }
  EXPECT_EQ(sent, expected);
  EXPECT_EQ(ask(R"({"request":"bad","from":0})").result,
            R"({"request":"bad","status":"refused","reason":"Запрос не понят: from должен быть номером события (целое число от 1)."})");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace pelvaron
