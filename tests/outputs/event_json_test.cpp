#include "events/event_json.h"

#include <gtest/gtest.h>

#include "sample_events.h"
#include "schema_check.h"

namespace pelvaron {
namespace {

using testing::CheckSchema;
using testing::EventSchema;
using testing::JsonValue;
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
    const JsonValue& json = *parsed;
    EXPECT_EQ(CheckSchema(EventSchema(), json), std::vector<std::string>{}) << text;

    EXPECT_EQ(json["seq"].Int(), static_cast<std::int64_t>(e.seq));
    EXPECT_EQ(json["time"].text, e.timeText);
    EXPECT_EQ(json["station"].text, e.station);
    EXPECT_EQ(json["kind"].text, EventKindName(e.kind));
    EXPECT_EQ(json["text"].text, e.text);
    EXPECT_EQ(json["address"].text, e.address);
    EXPECT_EQ(json["command"].text, e.command);
    EXPECT_EQ(json["detail"].text, e.detail);
    EXPECT_EQ(json.Find("ref") != nullptr, e.kind == EventKind::AlarmAcknowledged);
    if (e.kind == EventKind::AlarmAcknowledged) {
      EXPECT_EQ(json["ref"].Int(), 3);
    }
    if (e.kind != EventKind::Message) {
      EXPECT_EQ(json.Find("lines"), nullptr);
      EXPECT_EQ(json.Find("message"), nullptr);
      continue;
    }
    const DecodedMessage& m = *e.message;
    ASSERT_EQ(json["lines"].items.size(), m.lines.size());
    for (std::size_t i = 0; i < m.lines.size(); ++i) EXPECT_EQ(json["lines"].items[i].text, m.lines[i]);
    EXPECT_EQ(json["message"]["kind"].text, MessageKindName(m.kind));
    EXPECT_EQ(json["message"]["sum_ok"].boolean, m.sumOk);
    EXPECT_EQ(json["message"]["lines"].items.size(), m.lines.size());
  }
  // The decoded fields themselves, one message of each unit.
  const std::vector<Event> events = EveryKind();
  auto message = [&](std::size_t i) {
    const auto json = ParseJson(EventJson(events[i]));
    EXPECT_TRUE(json);
    return json ? (*json)["message"] : JsonValue{};
  };
  const JsonValue contactId = message(0);
  EXPECT_EQ(contactId["raw"].text, "12 34 3F 01 13 00 05 00 00 9E");
  EXPECT_EQ(contactId["contact_id"]["code"].text, "130");
  EXPECT_TRUE(contactId["contact_id"]["new_event"].boolean);
  EXPECT_EQ(contactId["contact_id"]["partition_number"].Int(), 1);
  EXPECT_EQ(contactId["contact_id"]["zone_number"].Int(), 5);
  EXPECT_EQ(message(1)["loop_state"]["guard"].Int(), 3);
  EXPECT_TRUE(message(1)["loop_state"]["control_message"].boolean);
  EXPECT_EQ(message(2)["dialler"]["byte"].Int(), 0x21);
  EXPECT_EQ(message(3)["radio"].items.size(), 2u);
  EXPECT_EQ(message(3)["radio"].items[1]["detail"].Int(), 3);
  EXPECT_FALSE(message(4)["sum_ok"].boolean);
  EXPECT_EQ(message(4).Find("address"), nullptr);
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
  EXPECT_EQ((*json)["station"].text, e.station);
  EXPECT_EQ((*json)["text"].text, e.text);
  EXPECT_EQ((*json)["detail"].text, e.detail);
}

TEST(EventJsonTest, TheSchemaCheckFindsWhatIsMissingOrWrong) {
  // The check the tests rely on does fail: a message without its lines, a
  // kind nobody knows, a time without its offset, a seq as text.
  auto json = ParseJson(EventJson(MessageEvent(kFrames[0], 1)));
  ASSERT_TRUE(json);
  std::erase_if(json->members, [](const testing::JsonMember& m) { return m.name == "lines"; });
  EXPECT_EQ(CheckSchema(EventSchema(), *json), std::vector<std::string>{"$: no lines"});
  json = ParseJson(R"({"seq":"1","time":"2026-12-07T10:22:20","station":"a","kind":"alarm","text":"x"})");
  ASSERT_TRUE(json);
  EXPECT_EQ(CheckSchema(EventSchema(), *json).size(), 3u);
}

}  // namespace
}  // namespace pelvaron
