// The hub's parts that decide alone: the time column, the gaps of a
// station's numbering, the commands' matching, the picture's objects.
#include <gtest/gtest.h>

#include "hub/command_sender.h"
#include "hub/hub_event.h"
#include "hub/seq_tracker.h"
#include "hub/station_picture.h"

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

}  // namespace
}  // namespace pelvaron
