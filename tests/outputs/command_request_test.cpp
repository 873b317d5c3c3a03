// Requests to the alarm desk as they come from the broker, and what goes
// back: every payload is taken strictly, and a refusal can be answered only
// when the request's id could be read.
#include <gtest/gtest.h>

#include "outputs/command_request.h"
#include "outputs/mqtt_mailbox.h"

namespace pelvaron {
namespace {

TEST(CommandRequestTest, PayloadsAreTakenStrictly) {
  const std::string head = R"({"request":"hub-1:7","operator":"Петров","ref":42)";
  struct Case {
    const char* verb;
    std::string payload;
    const char* id;       // what an answer would name; "" when nobody can be answered
    const char* problem;  // a part of the refusal; "" when understood
  } cases[] = {
      {"ack", head + R"(,"note":"вижу"})", "hub-1:7", ""},
      {"action", head + R"(,"action":"note","detail":"x"})", "hub-1:7", ""},
      {"close", head + "}", "hub-1:7", ""},  // the desk says the outcome is missing
      {"action", head + "}", "hub-1:7", "не указано действие"},
      {"ack", head + R"(,"outcome":"real"})", "hub-1:7", "лишнее поле «outcome»"},
      {"ack", head + R"(,"note":5})", "hub-1:7", "«note» должно быть строкой"},
      {"ack", R"({"request":"r","operator":"Петров","ref":0})", "r", "номер тревоги"},
      {"ack", R"({"request":"r","operator":"Петров","ref":"42"})", "r", "номер тревоги"},
      {"ack", R"({"request":"r","operator":"Петров","ref":-1})", "r", "номер тревоги"},
      {"ack", R"({"request":"r","ref":1})", "r", "не указан оператор"},
      {"ack", R"({"request":"r","operator":"Пет\u0007ров","ref":1})", "r", "управляющих символов"},
      {"ack", R"({"request":"r","operator":"Пет\u0085ров","ref":1})", "r", "управляющих символов"},
      {"ack", R"({"request":"r","operator":")" + std::string(65, 'x') + R"(","ref":1})", "r", "от 1 до 64 знаков"},
      {"ack", R"({"request":"r","operator":")" + std::string(64, 'x') + R"(","ref":1})", "r", ""},
      {"ack", R"({"request":"r 1","operator":"Петров","ref":1})", "", "нет номера запроса"},
      {"ack", R"({"request":")" + std::string(65, 'r') + R"(","operator":"Петров","ref":1})", "", "нет номера запроса"},
      {"ack", R"({"operator":"Петров","ref":1})", "", "нет номера запроса"},
      {"ack", "[1]", "", "не объект JSON"},
      {"ack", "{\"request\":\"r\",\"operator\":\"\xff\",\"ref\":1}", "", "не объект JSON"},
      {"ack", head + R"(,"note":")" + std::string(4096, 'x') + "\"}", "", "длиннее 4 КиБ"},
      {"delete", head + "}", "", "неизвестная команда «delete»"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.verb) + " " + c.payload.substr(0, 120));
    const CommandParse parsed = ParseCommand(c.verb, c.payload);
    EXPECT_EQ(parsed.id, c.id);
    EXPECT_EQ(parsed.request.has_value(), std::string(c.problem).empty()) << parsed.problem;
    EXPECT_NE(parsed.problem.find(c.problem), std::string::npos) << parsed.problem;
  }
  const CommandParse action = ParseCommand("action", head + R"(,"action":"guard-sent","detail":"ГБР-1"})");
  ASSERT_TRUE(action.request);
  EXPECT_EQ(action.request->verb, CommandRequest::Verb::Action);
  EXPECT_EQ(action.request->operatorName, "Петров");
  EXPECT_EQ(action.request->ref, 42u);
  EXPECT_EQ(action.request->action, "guard-sent");
  EXPECT_EQ(action.request->detail, "ГБР-1");
  EXPECT_EQ(CommandResultJson("r", false, "Нет."), R"({"request":"r","status":"refused","reason":"Нет."})");
}

// Answers go out in order and first; of the alarms only the latest, at most
// once per 200 ms; a new session gets the alarms and the plans again.
TEST(CommandRequestTest, TheMailboxCoalescesTheAlarmsAndKeepsEveryAnswer) {
  using Clock = MqttMailbox::SteadyClock;
  MqttMailbox box;
  std::vector<std::string> sent;
  auto publishAt = [&](int ms) {
    box.Publish(Clock::time_point{} + std::chrono::seconds(1) + std::chrono::milliseconds(ms),
                [&](const char* topic, const std::string& payload, bool retain) {
                  sent.push_back(std::string(topic) + (retain ? "*" : "") + " " + payload);
                  return true;
                });
  };
  box.Answer("a1");
  box.SetAlarms("q1");
  box.SetAlarms("q2");
  box.Answer("a2");
  box.SetPlans("p1");
  publishAt(0);
  box.SetAlarms("q3");
  publishAt(150);
  EXPECT_EQ(box.DueInMs(Clock::time_point{} + std::chrono::seconds(1) + std::chrono::milliseconds(150)), 50);
  publishAt(200);
  publishAt(500);  // nothing new
  box.NewSession();
  publishAt(510);
  EXPECT_EQ(sent, (std::vector<std::string>{"command/result a1", "command/result a2", "alarms* q2", "plans* p1",
                                            "alarms* q3", "alarms* q3", "plans* p1"}));
}

}  // namespace
}  // namespace pelvaron
