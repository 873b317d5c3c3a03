#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

#include "alarm_events.h"
#include "alarms/priority_table.h"
#include "support/fakes.h"
#include "support/result_support.h"

namespace pelvaron {
namespace {

using testing::ConsoleEvent;
using testing::ContactId;
using testing::MessageEvent;

std::string NameOf(const PriorityTable& table, const AlarmClass& c) {
  const Priority* p = table.At(c.priority);
  return p ? p->name : "-";
}

Event Loop(int kind, bool duress = false, bool tamperRestored = false) {
  sim::LoopStateEvent e;
  e.address = 12;
  e.kind = kind;
  e.guard = 3;
  e.duress = duress;
  e.tamperRestored = tamperRestored;
  e.alarm1 = kind == 6;
  return MessageEvent(sim::LoopStateFrame(e));
}

Event Radio(std::uint8_t code, bool newEvent) {
  sim::RadioEvent e;
  e.address = 8001;
  e.eventCode = code;
  e.newEvent = newEvent;
  e.source = 4;
  return MessageEvent(sim::RadioFrame(e));
}

Event Dialler(std::uint8_t byte) {
  return MessageEvent(sim::DiallerFrame({4660, byte}));
}

TEST(PriorityTable, TheShippedTableGivesEachKindOfEventItsPriority) {
  const PriorityTable& t = PriorityTable::Defaults();
  struct Case {
    Event event;
    std::string priority;
    AlarmRole role;
  };
  sim::Frame badSum = sim::ContactIdFrame({});
  badSum[9] ^= 1;
  const std::vector<Case> cases = {
      {ContactId(301, 110, true), "fire", AlarmRole::Alarm},
      {ContactId(301, 110, false), "fire", AlarmRole::Restore},
      {ContactId(301, 121, true), "panic", AlarmRole::Alarm},
      {ContactId(301, 131, true), "burglary", AlarmRole::Alarm},
      {ContactId(301, 144, true), "tamper", AlarmRole::Alarm},
      {ContactId(301, 302, true), "trouble", AlarmRole::Alarm},
      {ContactId(301, 401, true), "information", AlarmRole::Alarm},
      {Radio(0x11, true), "fire", AlarmRole::Alarm},
      {Radio(0x12, false), "panic", AlarmRole::Restore},
      {Radio(0x70, true), "tamper", AlarmRole::Alarm},
      {Radio(0x00, true), "information", AlarmRole::Alarm},
      {Loop(6), "burglary", AlarmRole::Alarm},
      {Loop(2, /*duress=*/true), "panic", AlarmRole::Alarm},  // a control message under duress
      {Loop(2), "information", AlarmRole::Alarm},
      {Loop(1), "tamper", AlarmRole::Alarm},
      {Loop(1, false, /*tamperRestored=*/true), "tamper", AlarmRole::Restore},
      {Dialler(0x21), "tamper", AlarmRole::Alarm},   // "Корпус Тамсир вскрыт"
      {Dialler(0x20), "tamper", AlarmRole::Restore},  // "Корпус Тамсир закрыт"
      {Dialler(0x31), "trouble", AlarmRole::Alarm},
      {MessageEvent(badSum), "information", AlarmRole::None},
      {ConsoleEvent(EventKind::ObjectOverdue, "0777"), "supervision", AlarmRole::Alarm},
      {ConsoleEvent(EventKind::ObjectBackInControl, "0777"), "supervision", AlarmRole::Restore},
      {ConsoleEvent(EventKind::LinkLost), "trouble", AlarmRole::Alarm},
      {ConsoleEvent(EventKind::LinkRestored), "trouble", AlarmRole::Restore},
      {ConsoleEvent(EventKind::EnclosureOpened), "tamper", AlarmRole::Alarm},
      {ConsoleEvent(EventKind::EnclosureClosed), "tamper", AlarmRole::Restore},
      {ConsoleEvent(EventKind::ConsoleStarted), "information", AlarmRole::Alarm},
  };
  for (const Case& c : cases) {
    const AlarmClass got = t.Classify(c.event);
    EXPECT_EQ(NameOf(t, got), c.priority) << c.event.text;
    EXPECT_EQ(got.role, c.role) << c.event.text;
  }
  // An acknowledgement is never an alarm of its own.
  EXPECT_EQ(t.Classify(ConsoleEvent(EventKind::AlarmAcknowledged)).priority, -1);
  // The highest priorities bring the window forward and wait for the operator.
  EXPECT_TRUE(t.At(t.Find("fire"))->raise);
  EXPECT_EQ(t.At(t.Find("fire"))->handling, AlarmHandling::Acknowledge);
  EXPECT_FALSE(t.At(t.Find("tamper"))->raise);
  EXPECT_EQ(t.At(t.Find("information"))->handling, AlarmHandling::Log);
}

// The Contact ID families as published: life safety first, every one that
// needs a person waits for acknowledgement, and its restore closes it.
TEST(PriorityTable, EveryContactIdFamilyHasItsPlaceAndItsRestoreClosesIt) {
  const PriorityTable& t = PriorityTable::Defaults();
  const struct {
    int code;
    const char* priority;
  } cases[] = {
      {100, "medical"}, {101, "medical"}, {102, "medical"}, {124, "panic"},      {125, "panic"},
      {137, "tamper"},  {146, "burglary"}, {151, "hazard"}, {154, "hazard"},     {162, "hazard"},
      {163, "hazard"},  {147, "trouble"},  {200, "trouble"}, {206, "trouble"},   {207, "information"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    const AlarmClass alarm = t.Classify(ContactId(301, c.code, true));
    const AlarmClass restore = t.Classify(ContactId(301, c.code, false));
    EXPECT_EQ(NameOf(t, alarm), c.priority);
    EXPECT_EQ(restore.role, AlarmRole::Restore);
    EXPECT_EQ(restore.key, alarm.key);
    const Priority* p = t.At(alarm.priority);
    ASSERT_NE(p, nullptr);
    if (std::string(c.priority) != "information") {
      EXPECT_EQ(p->handling, AlarmHandling::Acknowledge);
    }
  }
  // Medical help comes right after fire, before panic and everything else; all three raise the queue.
  EXPECT_LT(t.Find("fire"), t.Find("medical"));
  EXPECT_LT(t.Find("medical"), t.Find("panic"));
  for (const char* name : {"fire", "medical", "panic", "hazard"}) EXPECT_TRUE(t.At(t.Find(name))->raise) << name;
}

TEST(PriorityTable, ARestoreSharesTheKeyOfItsAlarmOnly) {
  const PriorityTable& t = PriorityTable::Defaults();
  EXPECT_EQ(t.Classify(ContactId(301, 110, true, 3)).key, t.Classify(ContactId(301, 110, false, 3)).key);
  EXPECT_NE(t.Classify(ContactId(301, 110, true, 3)).key, t.Classify(ContactId(301, 110, false, 4)).key);
  EXPECT_NE(t.Classify(ContactId(301, 110, true)).key, t.Classify(ContactId(301, 111, true)).key);
  EXPECT_EQ(t.Classify(Loop(1)).key, t.Classify(Loop(1, false, true)).key);
  EXPECT_EQ(t.Classify(Radio(0x11, true)).key, t.Classify(Radio(0x11, false)).key);
  EXPECT_EQ(t.Classify(Dialler(0x21)).key, t.Classify(Dialler(0x20)).key);
  EXPECT_EQ(t.Classify(ConsoleEvent(EventKind::LineFault)).key,
            t.Classify(ConsoleEvent(EventKind::LineRestored)).key);
  EXPECT_NE(t.Classify(ConsoleEvent(EventKind::LineFault)).key,
            t.Classify(ConsoleEvent(EventKind::LinkLost)).key);
}

TEST(PriorityTable, RulesAreTriedInOrderAndDefaultTakesTheRest) {
  ParsedPriorityTable parsed = ParsePriorityTable(
      "# a station's own table\n"
      "priority duress ack,raise #FF0000 Принуждение\n"
      "priority alarm  queue     -       Тревога\n"
      "priority rest   log       #808080\n"
      "\n"
      "cid 121 duress\n"
      "cid 100-199 alarm\n"
      "console link-lost alarm\n"
      "default rest\n");
  ASSERT_TRUE(parsed.ok()) << parsed.errors.front();
  const PriorityTable& t = parsed.table;
  ASSERT_EQ(t.priorities().size(), 3u);
  EXPECT_EQ(t.priorities()[0].title, "Принуждение");
  EXPECT_EQ(t.priorities()[1].colour, "");
  EXPECT_EQ(t.priorities()[1].handling, AlarmHandling::Queue);
  EXPECT_EQ(t.priorities()[2].title, "rest");  // no title: the name
  EXPECT_EQ(NameOf(t, t.Classify(ContactId(1, 121, true))), "duress");
  EXPECT_EQ(NameOf(t, t.Classify(ContactId(1, 110, true))), "alarm");
  EXPECT_EQ(NameOf(t, t.Classify(ContactId(1, 401, true))), "rest");
  EXPECT_EQ(NameOf(t, t.Classify(ConsoleEvent(EventKind::LinkRestored))), "alarm");
  EXPECT_EQ(NameOf(t, t.Classify(Loop(6))), "rest");

  // Without a default, what no rule takes has no priority and is no alarm.
  ParsedPriorityTable bare = ParsePriorityTable("priority only ack - Одна\ncid 110 only\n");
  ASSERT_TRUE(bare.ok());
  const AlarmClass none = bare.table.Classify(ContactId(1, 130, true));
  EXPECT_EQ(none.priority, -1);
  EXPECT_EQ(none.role, AlarmRole::None);
}

TEST(PriorityTable, EveryBadLineIsNamedByItsNumber) {
  ParsedPriorityTable parsed = ParsePriorityTable(
      "priority fire ack #FF0000 Пожар\n"     // 1
      "priority fire ack #FF0000 Пожар\n"     // 2 twice
      "priority x loud #FF0000 X\n"           // 3 handling
      "priority y ack red Y\n"                // 4 colour
      "priority z ack,queue - Z\n"            // 5 two handlings
      "cid 110-99 fire\n"                     // 6 range backwards
      "cid 1000 fire\n"                       // 7 out of range
      "radio 0x11 fyre\n"                     // 8 unknown priority
      "loop burning fire\n"                   // 9
      "dialler 16 fire\n"                     // 10
      "console message fire\n"                // 11 not a console event
      "sound fire\n"                          // 12 unknown word
      "default\n"                             // 13 no priority
      "priority late log - Поздно\n"          // 14 after rules
      "cid 110 fire \xCF\xEE\xE6\xE0\xF0\n");  // 15 Windows-1251 bytes
  ASSERT_EQ(parsed.errors.size(), 14u);
  for (std::size_t i = 0; i < parsed.errors.size(); ++i) {
    EXPECT_EQ(parsed.errors[i].rfind("строка " + std::to_string(i + 2) + ": ", 0), 0u) << parsed.errors[i];
  }
  EXPECT_NE(parsed.errors[6].find("«fyre»"), std::string::npos) << parsed.errors[6];
  EXPECT_EQ(ParsePriorityTable("# nothing\n").errors, std::vector<std::string>{"в таблице нет ни одного приоритета"});
}

TEST(PriorityTable, TheWorkingFoldersTableReplacesTheShippedOneUnlessItIsBad) {
  testing::MemoryFileSystem fs;
  Result<PriorityTable> loaded = LoadPriorityTable(fs);
  ASSERT_TRUE(testing::Succeeded(loaded));
  EXPECT_EQ(loaded->priorities().size(), PriorityTable::Defaults().priorities().size());

  const std::string good = "priority only ack - Одна\ndefault only\n";
  fs.files["priorities.txt"] = std::vector<std::uint8_t>(good.begin(), good.end());
  loaded = LoadPriorityTable(fs);
  ASSERT_TRUE(testing::Succeeded(loaded));
  ASSERT_EQ(loaded->priorities().size(), 1u);
  EXPECT_EQ(loaded->priorities()[0].name, "only");

  const std::string bad = "priority only ack - Одна\n\ncid 110 nothing\ncid x only\n";
  fs.files["priorities.txt"] = std::vector<std::uint8_t>(bad.begin(), bad.end());
  loaded = LoadPriorityTable(fs);
  EXPECT_EQ(testing::ProblemOf(loaded).text,
            "Таблица приоритетов тревог priorities.txt не принята: строка 3: неизвестный приоритет «nothing» "
            "(объявите его строкой priority выше) (и ещё ошибок: 1). Действует таблица по умолчанию.");
  EXPECT_EQ(TableInForce(std::move(loaded)).priorities().size(), PriorityTable::Defaults().priorities().size());

  fs.failRead = 13;
  loaded = LoadPriorityTable(fs);
  const std::string problem = testing::ProblemOf(loaded).text;
  EXPECT_NE(problem.find("не читается (ошибка 13)"), std::string::npos) << problem;
  EXPECT_EQ(TableInForce(std::move(loaded)).Find("fire"), 0);
}

}  // namespace
}  // namespace pelvaron
