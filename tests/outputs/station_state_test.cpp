#include "outputs/station_state.h"

#include <gtest/gtest.h>

#include "schema_check.h"

namespace pelvaron {
namespace {

Event Of(EventKind kind) {
  Event e;
  e.kind = kind;
  return e;
}

ObjectListRow Row(const char* address, const char* control, bool alarm, const char* comment = "") {
  ObjectListRow row;
  row.address = std::string(" ") + address;
  row.control = control;
  row.bAlarm = alarm;
  row.comment = comment;
  return row;
}

TEST(StationStateTest, TheStatusFieldsFollowTheirEventsFromTheStartOfARun) {
  StationState state;
  EXPECT_TRUE(state.Apply(Of(EventKind::ConsoleStarted)));
  EXPECT_EQ(state.Retained(), (std::map<std::string, std::string>{
                                  {"status/link", "lost"}, {"status/line", "ok"}, {"status/enclosure", "closed"}}));
  state.Apply(Of(EventKind::LinkRestored));
  state.Apply(Of(EventKind::LineFault));
  state.Apply(Of(EventKind::EnclosureOpened));
  EXPECT_EQ(state.Retained(), (std::map<std::string, std::string>{
                                  {"status/link", "ok"}, {"status/line", "fault"}, {"status/enclosure", "open"}}));
  EXPECT_FALSE(state.Apply(Of(EventKind::LineFault)));
  EXPECT_FALSE(state.Apply(Of(EventKind::ObjectOverdue)));  // objects come from the list, not from events
}

TEST(StationStateTest, ObjectsAreTheConsolesListAsItShowsThem) {
  struct Case {
    ObjectListRow row;
    const char* control;
  } cases[] = {
      {Row("0012", "+", false, "Склад"), "normal"},
      {Row("0105", "+", true), "overdue"},
      {Row("0240", "-", false), "off"},
      {Row("0777", "-", true), "off"},  // taken off control while overdue: not supervised
  };
  std::vector<ObjectListRow> rows;
  for (const Case& c : cases) rows.push_back(c.row);
  StationState state;
  EXPECT_FALSE(state.ObjectsKnown());
  EXPECT_TRUE(state.SetObjects(ObjectStatesOf(rows)));
  EXPECT_TRUE(state.ObjectsKnown());
  const auto retained = state.Retained();
  for (const Case& c : cases) {
    const std::string address = c.row.address.substr(1);
    ASSERT_TRUE(retained.count("object/" + address)) << address;
    const auto json = testing::ParseJson(retained.at("object/" + address));
    ASSERT_TRUE(json) << address;
    EXPECT_EQ(json->at("address"), address);
    EXPECT_EQ(json->at("control"), c.control) << address;
    EXPECT_EQ(json->at("comment"), c.row.comment);
  }
  const auto stored = testing::ParseJson(retained.at("object/0012"));
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->at("comment"), "Склад");
  // The same list again changes nothing; a deleted object is gone.
  EXPECT_FALSE(state.SetObjects(ObjectStatesOf(rows)));
  rows.erase(rows.begin() + 1);
  EXPECT_TRUE(state.SetObjects(ObjectStatesOf(rows)));
  EXPECT_EQ(state.Retained().count("object/0105"), 0u);
  EXPECT_EQ(state.Retained().size(), 3u);
}

TEST(StationStateTest, TopicsAndDiscoveryIdsKeepToTheRulesOfMqttAndHomeAssistant) {
  EXPECT_EQ(StationTopicBase("post-1"), "pelvaron/post-1/");
  EXPECT_EQ(StationTopicBase("a/b+c#"), "pelvaron/a_b_c_/");
  EXPECT_EQ(ObjectTopic("12/+"), "object/12__");
  const std::vector<ObjectStatus> objects = {{"0012", "normal", ""}, {"A#1", "off", ""}};
  std::string cyrillic;
  for (int i = 0; i < 100; ++i) cyrillic += "я";
  for (const std::string& station : {std::string("post-1"), std::string("пост 1"), std::string("Station__X_"),
                                     std::string(300, 'x'), cyrillic}) {
    SCOPED_TRACE(station.substr(0, 20));
    const auto messages = DiscoveryMessages("homeassistant", station, objects);
    ASSERT_EQ(messages.size(), 5u);
    for (const auto& [topic, payload] : messages) {
      EXPECT_EQ(topic.find_first_of("+# "), std::string::npos) << topic;
      EXPECT_LE(topic.size(), LongestTopic(station, "homeassistant"));
      const auto json = testing::ParseJson(payload);
      ASSERT_TRUE(json) << payload;
      const std::string component = topic.substr(14, topic.find('/', 14) - 14);
      EXPECT_EQ(testing::CheckSchema(testing::DiscoverySchema().at(component), *json), std::vector<std::string>{})
          << payload;
      EXPECT_EQ(json->at("availability_topic"), StationTopicBase(station) + "online");
    }
  }
  const auto messages = DiscoveryMessages("homeassistant", "пост 1", objects);
  const std::string object = "homeassistant/sensor/pelvaron__d0_bf_d0_be_d1_81_d1_82_201/object_0012/config";
  ASSERT_TRUE(messages.count(object));
  const auto config = testing::ParseJson(messages.at(object));
  ASSERT_TRUE(config);
  EXPECT_EQ(config->at("default_entity_id"), "sensor.pelvaron_d0_bf_d0_be_d1_81_d1_82_201_object_0012");
  EXPECT_EQ(DiscoveryObjectFilter("homeassistant", "пост 1"),
            "homeassistant/sensor/pelvaron__d0_bf_d0_be_d1_81_d1_82_201/+/config");
}

}  // namespace
}  // namespace pelvaron
