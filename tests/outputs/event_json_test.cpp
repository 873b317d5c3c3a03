#include "events/event_json.h"

#include <gtest/gtest.h>

#include "sample_events.h"
#include "schema_check.h"

namespace pelvaron {
namespace {

using testing::CheckSchema;
using testing::EventSchema;
using testing::Int;
using testing::Json;
using testing::ParseJson;
using testing::Base;
using testing::EveryKind;
using testing::kFrames;
using testing::MessageEvent;

TEST(EventJsonTest, EveryKindIsOneLineOfJsonThatMeetsTheSchemaAndSaysWhatTheEventSays) {
  for (const Event& e : EveryKind()) {
    SCOPED_TRACE(std::string(EventKindName(e.kind)) + " " + std::to_string(e.seq));
    const std::string text = EventJson(e);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    std::string error;
    const auto parsed = ParseJson(text, &error);
    ASSERT_TRUE(parsed) << error << "\n" << text;
    const Json& json = *parsed;
    EXPECT_EQ(CheckSchema(EventSchema(), json), std::vector<std::string>{}) << text;

    EXPECT_EQ(Int(json.at("seq")), static_cast<std::int64_t>(e.seq));
    EXPECT_EQ(json.at("time"), e.timeText);
    EXPECT_EQ(json.at("station"), e.station);
    EXPECT_EQ(json.at("kind"), EventKindName(e.kind));
    EXPECT_EQ(json.at("text"), e.text);
    // Empty fields are left out.
    EXPECT_EQ(json.value("address", ""), e.address);
    EXPECT_EQ(json.value("command", ""), e.command);
    EXPECT_EQ(json.value("detail", ""), e.detail);
    EXPECT_EQ(json.contains("ref"), e.ref != 0);
    if (e.ref != 0) {
      EXPECT_EQ(Int(json.at("ref")), 3);
    }
    EXPECT_EQ(json.value("operator", ""), e.operatorName);
    if (e.kind != EventKind::Message) {
      EXPECT_FALSE(json.contains("lines"));
      EXPECT_FALSE(json.contains("message"));
      continue;
    }
    const DecodedMessage& m = *e.message;
    ASSERT_EQ(json.at("lines").size(), m.lines.size());
    for (std::size_t i = 0; i < m.lines.size(); ++i) EXPECT_EQ(json["lines"][i], m.lines[i]);
    EXPECT_EQ(json["message"].at("kind"), MessageKindName(m.kind));
    EXPECT_EQ(json["message"].at("sum_ok"), m.sumOk);
    EXPECT_EQ(json["message"].at("lines").size(), m.lines.size());
  }
  // The decoded fields themselves, one message of each unit.
  const std::vector<Event> events = EveryKind();
  auto message = [&](std::size_t i) {
    const auto json = ParseJson(EventJson(events[i]));
    EXPECT_TRUE(json);
    return json ? json->at("message") : Json{};
  };
  const Json contactId = message(0);
  EXPECT_EQ(contactId.at("raw"), "12 34 3F 01 13 00 05 00 00 9E");
  EXPECT_EQ(contactId.at("contact_id").at("code"), "130");
  EXPECT_EQ(contactId.at("contact_id").at("new_event"), true);
  EXPECT_EQ(Int(contactId.at("contact_id").at("partition_number")), 1);
  EXPECT_EQ(Int(contactId.at("contact_id").at("zone_number")), 5);
  EXPECT_EQ(Int(message(1).at("loop_state").at("guard")), 3);
  EXPECT_EQ(message(1).at("loop_state").at("control_message"), true);
  EXPECT_EQ(Int(message(2).at("dialler").at("byte")), 0x21);
  EXPECT_EQ(message(3).at("radio").size(), 2u);
  EXPECT_EQ(Int(message(3).at("radio").at(1).at("detail")), 3);
  EXPECT_EQ(message(4).at("sum_ok"), false);
  EXPECT_FALSE(message(4).contains("address"));
}

TEST(EventJsonTest, TextsWithQuotesBackslashesAndControlCharactersComeBackAsTheyWere) {
  Event e = Base(EventKind::SettingsChanged, 7);
  e.station = "пост \"Север\" \\ 2";
  e.text = "строка\tс табуляцией\nи переводом";
  e.detail = std::string("код \x01 и \x1f конец");
  const std::string text = EventJson(e);
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_EQ(text.find('\t'), std::string::npos);
  std::string error;
  const auto json = ParseJson(text, &error);
  ASSERT_TRUE(json) << error << "\n" << text;
  EXPECT_EQ(json->at("station"), e.station);
  EXPECT_EQ(json->at("text"), e.text);
  EXPECT_EQ(json->at("detail"), e.detail);
}

TEST(EventJsonTest, OnlyAMessageTheQueueTakesCarriesItsPriorityAndKey) {
  // Faults: the members on an event the queue does not take (or on a
  // console's own event), missing on an alarm, a restore told as an alarm.
  struct Case {
    const char* what;
    Event event;
    std::uint8_t role;
    bool members;
  };
  const Case cases[] = {
      {"a message only logged", MessageEvent(kFrames[0], 1), 0, false},
      {"an alarm", MessageEvent(kFrames[0], 2), 1, true},
      {"a restore", MessageEvent(kFrames[0], 3), 2, true},
      {"a console's own event", Base(EventKind::LinkLost, 4), 1, false},
  };
  for (Case c : cases) {
    SCOPED_TRACE(c.what);
    c.event.alarmRole = c.role;
    c.event.priority = "fire";
    c.event.alarmKey = "cid110-5";
    const auto json = ParseJson(EventJson(c.event));
    ASSERT_TRUE(json);
    EXPECT_EQ(CheckSchema(EventSchema(), *json), std::vector<std::string>{});
    EXPECT_EQ(json->contains("priority"), c.members);
    EXPECT_EQ(json->contains("alarm_key"), c.members);
    EXPECT_EQ(json->contains("restore"), c.members);
    if (!c.members) continue;
    EXPECT_EQ(json->at("priority"), "fire");
    EXPECT_EQ(json->at("alarm_key"), "cid110-5");
    EXPECT_EQ(json->at("restore"), c.role == 2);
  }
}

TEST(EventJsonTest, TheSchemaCheckFindsWhatIsMissingOrWrong) {
  // The check the tests rely on does fail: a message without its lines, a
  // kind nobody knows, a time without its offset, a seq as text.
  auto json = ParseJson(EventJson(MessageEvent(kFrames[0], 1)));
  ASSERT_TRUE(json);
  json->erase("lines");
  EXPECT_EQ(CheckSchema(EventSchema(), *json), std::vector<std::string>{"$: no lines"});
  json = ParseJson(R"({"seq":"1","time":"2026-12-07T10:22:20","station":"a","kind":"alarm","text":"x"})");
  ASSERT_TRUE(json);
  EXPECT_EQ(CheckSchema(EventSchema(), *json).size(), 3u);
}

}  // namespace
}  // namespace pelvaron
