#include "outputs/station_state.h"

#include <gtest/gtest.h>

#include "support/json_parse.h"

namespace pelvaron {
namespace {


Event Of(EventKind kind, std::string address = {}, std::string command = {}) {
  static std::uint64_t seq = 0;
  Event e;
  e.seq = ++seq;
  e.kind = kind;
  e.timeText = "2026-12-07T10:22:20+03:00";
  e.text = std::string(EventKindName(kind));
  e.address = std::move(address);
  e.command = std::move(command);
  return e;
}

std::string Control(const StationState& state, const std::string& address) {
  for (const RetainedState& s : state.All()) {
    if (s.topic != "object/" + address) continue;
    const auto json = testing::ParseJson(s.payload);
    return json ? (*json)["control"].text : "bad json";
  }
  return "none";
}

std::string Status(const StationState& state, const std::string& topic) {
  for (const RetainedState& s : state.All()) {
    if (s.topic == topic) return s.payload;
  }
  return "none";
}

TEST(StationStateTest, TheStatusFieldsFollowTheirEventsFromTheStartOfARun) {
  StationState state;
  EXPECT_TRUE(state.Apply(Of(EventKind::ConsoleStarted)));
  EXPECT_EQ(Status(state, "status/link"), "lost");
  EXPECT_EQ(Status(state, "status/line"), "ok");
  EXPECT_EQ(Status(state, "status/enclosure"), "closed");
  state.TakeChanged();
  state.Apply(Of(EventKind::LinkRestored));
  state.Apply(Of(EventKind::LineFault));
  state.Apply(Of(EventKind::EnclosureOpened));
  state.Apply(Of(EventKind::LinkLost));
  // Each topic once, with its latest payload, in the order it first changed.
  EXPECT_EQ(state.TakeChanged(), (std::vector<RetainedState>{
                                     {"status/link", "lost"}, {"status/line", "fault"}, {"status/enclosure", "open"}}));
  EXPECT_FALSE(state.Apply(Of(EventKind::LinkLost)));
  EXPECT_FALSE(state.Apply(Of(EventKind::SettingsChanged)));
}

TEST(StationStateTest, ObjectsFollowControlOverdueAndTheOperatorsChanges) {
  StationState state;
  state.Apply(Of(EventKind::ObjectsChanged, "0012", "register"));
  state.Apply(Of(EventKind::ObjectsChanged, "0105", "register"));
  state.Apply(Of(EventKind::ObjectOverdue, "0012"));
  EXPECT_EQ(Control(state, "0012"), "overdue");
  state.Apply(Of(EventKind::ObjectBackInControl, "0012"));
  EXPECT_EQ(Control(state, "0012"), "normal");
  state.Apply(Of(EventKind::ObjectsChanged, "0105", "control-off"));
  state.Apply(Of(EventKind::ObjectOverdue, "0012"));
  state.Apply(Of(EventKind::ObjectsChanged, "", "reset-all-counters"));
  EXPECT_EQ(Control(state, "0012"), "normal");
  EXPECT_EQ(Control(state, "0105"), "off");
  state.Apply(Of(EventKind::ObjectsChanged, "", "control-all-on"));
  EXPECT_EQ(Control(state, "0105"), "normal");
  state.TakeChanged();
  // A deleted object's retained state is removed (an empty payload), then forgotten.
  state.Apply(Of(EventKind::ObjectsChanged, "0105", "delete"));
  EXPECT_EQ(state.TakeChanged(), (std::vector<RetainedState>{{"object/0105", ""}}));
  EXPECT_EQ(state.ObjectAddresses(), std::vector<std::string>{"0012"});
  state.Apply(Of(EventKind::ObjectsChanged, "", "clear-all"));
  EXPECT_EQ(state.TakeChanged(), (std::vector<RetainedState>{{"object/0012", ""}}));
  EXPECT_TRUE(state.All().empty());
}

TEST(StationStateTest, ObjectStatesSurviveARestartAndTheStatusFieldsStartAfresh) {
  StationState before;
  before.Apply(Of(EventKind::ObjectsChanged, "0012", "register"));
  Event overdue = Of(EventKind::ObjectOverdue, "0012");
  overdue.text = "Отсутствие контр. извещения от объекта с адресом '0012'!";
  before.Apply(overdue);
  before.Apply(Of(EventKind::LinkRestored));
  StationState after;
  after.LoadObjects(before.SaveObjects());
  EXPECT_EQ(after.All().size(), 1u);
  EXPECT_EQ(after.All(), std::vector<RetainedState>{before.All()[0]});
  EXPECT_EQ(Control(after, "0012"), "overdue");
}

TEST(StationStateTest, TopicsAndDiscoveryIdsKeepMqttsSpecialCharactersOut) {
  EXPECT_EQ(StationTopicBase("post-1"), "pelvaron/post-1/");
  EXPECT_EQ(StationTopicBase("a/b+c#"), "pelvaron/a_b_c_/");
  const auto messages = DiscoveryMessages("homeassistant", "пост 1", {"0012"}, {"0105"});
  ASSERT_EQ(messages.size(), 5u);
  for (const RetainedState& m : messages) {
    EXPECT_EQ(m.topic.find_first_of("+# "), std::string::npos) << m.topic;
    if (m.payload.empty()) continue;
    const auto json = testing::ParseJson(m.payload);
    ASSERT_TRUE(json) << m.payload;
    EXPECT_EQ((*json)["state_topic"].text.rfind("pelvaron/пост 1/", 0), 0u) << m.payload;
    EXPECT_EQ((*json)["availability_topic"].text, "pelvaron/пост 1/online");
  }
  EXPECT_EQ(messages[3].topic, "homeassistant/sensor/pelvaron__d0_bf_d0_be_d1_81_d1_82_201/object_0012/config");
  EXPECT_EQ(messages[4], (RetainedState{"homeassistant/sensor/pelvaron__d0_bf_d0_be_d1_81_d1_82_201/object_0105/config", ""}));
}

}  // namespace
}  // namespace pelvaron
