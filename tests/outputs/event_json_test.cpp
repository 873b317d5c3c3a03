#include "events/event_json.h"

#include <gtest/gtest.h>


#include "json_check.h"
#include "sample_events.h"

namespace pelvaron {
namespace {

using testing::CheckSchema;
using testing::EventSchema;
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
    Json json;
    std::string error;
    ASSERT_TRUE(ParseJson(text, json, &error)) << error << "\n" << text;
    EXPECT_EQ(CheckSchema(EventSchema(), json), std::vector<std::string>{}) << text;

    EXPECT_EQ(json["seq"].Int(), static_cast<std::int64_t>(e.seq));
    EXPECT_EQ(json["time"].Str(), e.timeText);
    EXPECT_EQ(json["station"].Str(), e.station);
    EXPECT_EQ(json["kind"].Str(), EventKindName(e.kind));
    EXPECT_EQ(json["text"].Str(), e.text);
    EXPECT_EQ(json["address"].Str(), e.address);
    EXPECT_EQ(json["command"].Str(), e.command);
    EXPECT_EQ(json["detail"].Str(), e.detail);
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
    ASSERT_EQ(json["lines"].array.size(), m.lines.size());
    for (std::size_t i = 0; i < m.lines.size(); ++i) EXPECT_EQ(json["lines"].array[i].Str(), m.lines[i]);
    EXPECT_EQ(json["message"]["kind"].Str(), MessageKindName(m.kind));
    EXPECT_EQ(json["message"]["sum_ok"].boolean, m.sumOk);
    EXPECT_EQ(json["message"]["lines"].array.size(), m.lines.size());
  }
  // The decoded fields themselves, one message of each unit.
  const std::vector<Event> events = EveryKind();
  auto message = [&](std::size_t i) {
    Json json;
    EXPECT_TRUE(ParseJson(EventJson(events[i]), json, nullptr));
    return json["message"];
  };
  const Json contactId = message(0);
  EXPECT_EQ(contactId["raw"].Str(), "12 34 3F 01 13 00 05 00 00 9E");
  EXPECT_EQ(contactId["contact_id"]["code"].Str(), "130");
  EXPECT_TRUE(contactId["contact_id"]["new_event"].boolean);
  EXPECT_EQ(contactId["contact_id"]["partition_number"].Int(), 1);
  EXPECT_EQ(contactId["contact_id"]["zone_number"].Int(), 5);
  EXPECT_EQ(message(1)["loop_state"]["guard"].Int(), 3);
  EXPECT_TRUE(message(1)["loop_state"]["control_message"].boolean);
  EXPECT_EQ(message(2)["dialler"]["byte"].Int(), 0x21);
  EXPECT_EQ(message(3)["radio"].array.size(), 2u);
  EXPECT_EQ(message(3)["radio"].array[1]["detail"].Int(), 3);
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
  Json json;
  std::string error;
  ASSERT_TRUE(ParseJson(text, json, &error)) << error << "\n" << text;
  EXPECT_EQ(json["station"].Str(), e.station);
  EXPECT_EQ(json["text"].Str(), e.text);
  EXPECT_EQ(json["detail"].Str(), e.detail);
}

TEST(EventJsonTest, TheSchemaCheckFindsWhatIsMissingOrWrong) {
  // The check the tests rely on does fail: a message without its lines, a
  // kind nobody knows, a time without its offset, a seq as text.
  Json json;
  ASSERT_TRUE(ParseJson(EventJson(MessageEvent(kFrames[0], 1)), json, nullptr));
  json.object.erase("lines");
  EXPECT_EQ(CheckSchema(EventSchema(), json), std::vector<std::string>{"$: no lines"});
  ASSERT_TRUE(ParseJson(
      R"({"seq":"1","time":"2026-12-07T10:22:20","station":"a","kind":"alarm","text":"x"})", json, nullptr));
  EXPECT_EQ(CheckSchema(EventSchema(), json).size(), 3u);
}

}  // namespace
}  // namespace pelvaron
