#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "alarm_events.h"
#include "alarms/alarm_desk.h"

namespace pelvaron {
namespace {

using testing::ConsoleEvent;
using testing::ContactId;

const PriorityTable& Table() {
  static const PriorityTable table = ParsePriorityTable(
                                         "priority fire ack,raise #FF4040 Пожар\n"
                                         "priority burglary ack #FFA040 Проникновение\n"
                                         "priority trouble queue - Неисправность\n"
                                         "priority info log - Информация\n"
                                         "cid 110 fire\n"
                                         "cid 130 burglary\n"
                                         "cid 300 trouble\n"
                                         "console link-lost trouble\n"
                                         "default info\n")
                                         .table;
  return table;
}

class QueueTest : public ::testing::Test {
 protected:
  AlarmQueue::Change Apply(const Event& e) { return queue.Apply(e, Table().Classify(e)); }
  AlarmQueue queue{Table()};
};

TEST_F(QueueTest, ARestoreClosesItsAlarmButOnlyAcknowledgementEndsOneThatNeedsIt) {
  EXPECT_TRUE(Apply(ContactId(301, 110, true, 3, 1, 100)).changed);
  EXPECT_TRUE(Apply(ContactId(301, 300, true, 1, 2, 101)).changed);
  // Another zone's restore, or one from another object, closes nothing.
  EXPECT_FALSE(Apply(ContactId(301, 110, false, 4, 3, 102)).changed);
  EXPECT_FALSE(Apply(ContactId(302, 110, false, 3, 4, 103)).changed);
  ASSERT_EQ(queue.size(), 2u);

  EXPECT_TRUE(Apply(ContactId(301, 110, false, 3, 5, 110)).changed);
  const AlarmEntry* fire = queue.Find(1);
  ASSERT_NE(fire, nullptr);
  EXPECT_TRUE(fire->restored);
  EXPECT_EQ(fire->restoreTime, 110);
  EXPECT_TRUE(queue.NeedsSound()) << "restored, but never acknowledged";

  // A trouble that needs no acknowledgement leaves with its restore.
  EXPECT_TRUE(Apply(ContactId(301, 300, false, 1, 6, 111)).changed);
  EXPECT_EQ(queue.Find(2), nullptr);
  // Information and restores of nothing change nothing.
  EXPECT_FALSE(Apply(ContactId(301, 401, true, 1, 7, 112)).changed);
  EXPECT_FALSE(Apply(ContactId(301, 130, false, 1, 8, 113)).changed);
  EXPECT_EQ(queue.size(), 1u);
}

TEST_F(QueueTest, RepeatsAreCountedUntilAcknowledgedThenANewAlarmOpens) {
  Apply(ContactId(301, 130, true, 1, 10, 100));
  Apply(ContactId(301, 110, false, 1, 11, 101));
  Apply(ContactId(301, 130, false, 1, 12, 102));  // restored...
  Apply(ContactId(301, 130, true, 1, 13, 105));   // ...and live again
  Apply(ContactId(301, 130, true, 1, 14, 107));
  ASSERT_EQ(queue.size(), 1u);
  const AlarmEntry& e = *queue.Find(10);
  EXPECT_EQ(e.repeats, 2);
  EXPECT_EQ(e.firstTime, 100);
  EXPECT_EQ(e.lastTime, 107);
  EXPECT_FALSE(e.restored);

  // An acknowledgement that names a repeat takes the whole entry in hand;
  // its close, naming another repeat, ends it.
  std::optional<AlarmEntry> acked = queue.Acknowledge(13);
  ASSERT_TRUE(acked);
  EXPECT_EQ(acked->id, 10u);
  EXPECT_TRUE(queue.Find(10)->acknowledged);
  EXPECT_FALSE(queue.NeedsSound());
  EXPECT_FALSE(queue.Acknowledge(13));
  ASSERT_TRUE(queue.Close(14));
  EXPECT_TRUE(queue.empty());

  Apply(ContactId(301, 130, true, 1, 15, 110));
  ASSERT_EQ(queue.size(), 1u);
  EXPECT_EQ(queue.Find(15)->repeats, 0);
}

TEST_F(QueueTest, ARepeatBeyondTheKeptNumbersIsStillFoundByItsObject) {
  for (std::uint64_t seq = 1; seq <= AlarmQueue::kKeptSeqs + 10; ++seq) Apply(ContactId(301, 130, true, 1, seq));
  Apply(ContactId(302, 130, true, 1, 1000));
  EXPECT_FALSE(queue.Acknowledge(AlarmQueue::kKeptSeqs + 5, "0302"));
  std::optional<AlarmEntry> acked = queue.Acknowledge(AlarmQueue::kKeptSeqs + 5, "0301");
  ASSERT_TRUE(acked);
  EXPECT_EQ(acked->id, 1u);
}

TEST_F(QueueTest, SortedByPriorityThenTheLongestWaiting) {
  Apply(ContactId(1, 300, true, 1, 1, 100));  // trouble
  Apply(ContactId(2, 130, true, 1, 2, 101));  // burglary
  Apply(ContactId(3, 110, true, 1, 3, 105));  // fire, later
  Apply(ContactId(4, 110, true, 1, 4, 102));  // fire, earlier
  Apply(ContactId(5, 130, true, 1, 5, 101));  // burglary, same second: the first raised first
  std::vector<std::uint64_t> order;
  for (const AlarmEntry& e : queue.Sorted()) order.push_back(e.id);
  EXPECT_EQ(order, (std::vector<std::uint64_t>{4, 3, 2, 5, 1}));
}

TEST_F(QueueTest, OnlyANewAlarmOfARaisingPriorityRaisesTheWindow) {
  EXPECT_FALSE(Apply(ContactId(1, 130, true, 1, 1)).raise);
  EXPECT_TRUE(Apply(ContactId(1, 110, true, 1, 2)).raise);
  EXPECT_FALSE(Apply(ContactId(1, 110, true, 1, 3)).raise) << "a repeat is not new";
}

// The desk records what the queue does: protocol lines, events, sound.
class DeskTest : public ::testing::Test {
 protected:
  DeskTest() {
    AlarmDesk::Hooks hooks;
    hooks.protocolLines = [this](const std::string& stamped, const std::vector<std::string>& plain) {
      protocol.push_back(stamped);
      protocol.insert(protocol.end(), plain.begin(), plain.end());
    };
    hooks.publish = [this](Event e) {
      e.seq = ++seq;
      published.push_back(e);
      desk.Publish(e);  // as the console's fan-out hands it back
    };
    hooks.commentOf = [](const std::string& address) { return address == "0301" ? "Склад" : ""; };
    hooks.sound = [this](bool newAlarm) { soundsForNewAlarms.push_back(newAlarm); };
    hooks.refused = [this](const std::string& text) { refusals.push_back(text); };
    desk.SetHooks(hooks);
    desk.SetListener([this](const AlarmView& v) { views.push_back(v); });
  }

  AlarmDesk desk{Table()};
  std::vector<std::string> protocol;
  std::vector<Event> published;
  std::vector<AlarmView> views;
  std::vector<std::string> refusals;
  std::uint64_t seq = 100;
  std::vector<bool> soundsForNewAlarms;  // each burst: whether an alarm had just come
  int Sounds() const { return static_cast<int>(soundsForNewAlarms.size()); }
};

TEST_F(DeskTest, AnAcknowledgementIsWrittenToTheProtocolAndPublished) {
  desk.Publish(ContactId(301, 110, true, 3, 7, 100));
  desk.Publish(ContactId(302, 130, true, 1, 8, 101));
  ASSERT_EQ(views.back().rows.size(), 2u);
  EXPECT_TRUE(views[1].raise) << "the fire";
  EXPECT_FALSE(views.back().raise) << "the burglary";
  EXPECT_EQ(views.back().rows[0].priorityTitle, "Пожар");
  EXPECT_EQ(views.back().rows[0].colour, "#FF4040");
  EXPECT_EQ(views.back().rows[0].comment, "Склад");

  EXPECT_EQ(desk.Acknowledge({7}, "выезд группы"), 1);
  EXPECT_EQ(protocol, (std::vector<std::string>{"Подтверждена тревога №7, объект '0301'", "    Пожарная тревога",
                                                "    Примечание: выезд группы"}));
  ASSERT_EQ(published.size(), 1u);
  const Event& ack = published[0];
  EXPECT_EQ(ack.kind, EventKind::AlarmAcknowledged);
  EXPECT_EQ(ack.ref, 7u);
  EXPECT_EQ(ack.address, "0301");
  EXPECT_EQ(ack.detail, "выезд группы");
  EXPECT_EQ(ack.text, "Подтверждена тревога №7, объект '0301': Пожарная тревога; примечание: выезд группы");
  // Acknowledged, it stays in hand until it is closed, no longer waiting to be seen.
  ASSERT_EQ(views.back().rows.size(), 2u);
  EXPECT_TRUE(desk.queue().Find(7)->acknowledged);
  EXPECT_FALSE(desk.queue().Find(8)->acknowledged);

  // Acknowledged already: nothing is recorded twice.
  EXPECT_EQ(desk.Acknowledge({7}, ""), 0);
  EXPECT_EQ(published.size(), 1u);

  desk.Publish(ContactId(303, 300, true, 1, 9, 102));
  EXPECT_EQ(desk.Acknowledge({}, ""), 0) << "none named, none acknowledged";
  EXPECT_EQ(desk.Acknowledge({8, 9}, ""), 2);
  EXPECT_FALSE(desk.queue().NeedsSound()) << "all seen";
  EXPECT_EQ(published.size(), 3u);
  EXPECT_EQ(protocol.back(), "    Системная неисправность") << "no note, no note line";
}

TEST_F(DeskTest, ItSoundsEveryThirdSecondUntilEveryAlarmThatNeedsItIsAcknowledged) {
  desk.Tick(100);
  desk.Publish(ContactId(303, 300, true, 1, 1, 100));  // needs no acknowledgement
  desk.Tick(101);
  EXPECT_EQ(Sounds(), 0);
  EXPECT_FALSE(views.back().sounding);

  desk.Publish(ContactId(301, 110, true, 1, 2, 102));
  EXPECT_TRUE(views.back().sounding);
  for (std::int64_t t = 102; t <= 108; ++t) desk.Tick(t);
  EXPECT_EQ(soundsForNewAlarms, (std::vector<bool>{true, false, false}));  // 102, 105, 108
  desk.Publish(ContactId(301, 110, false, 1, 3, 109));
  desk.Tick(111);
  EXPECT_EQ(Sounds(), 4) << "a restore does not silence an alarm nobody acknowledged";
  EXPECT_FALSE(soundsForNewAlarms.back()) << "nor is it a new alarm";
  // The alarm again between two bursts: the next burst says so (a failed sound is tried again).
  desk.Publish(ContactId(301, 110, true, 1, 5, 112));
  desk.Tick(112);
  desk.Tick(113);
  desk.Tick(114);
  EXPECT_EQ(Sounds(), 5);
  EXPECT_TRUE(soundsForNewAlarms.back());

  desk.Acknowledge({2}, "");
  EXPECT_FALSE(views.back().sounding);
  for (std::int64_t t = 115; t <= 130; ++t) desk.Tick(t);
  EXPECT_EQ(Sounds(), 5);
  // A new alarm sounds at once.
  desk.Publish(ContactId(301, 130, true, 1, 4, 131));
  desk.Tick(131);
  EXPECT_EQ(Sounds(), 6);
  EXPECT_TRUE(soundsForNewAlarms.back());
}

TEST_F(DeskTest, AnAcknowledgementFromOutsideIsRecordedWithItsSourceEvenForAnAlarmNotQueued) {
  desk.Publish(ContactId(301, 130, true, 1, 5, 100));
  desk.Publish(ContactId(301, 130, true, 1, 6, 101));
  desk.AcknowledgeFromOutside(6, "0301", "Охранная тревога", "ложная", "pelvaron-history", "ivanov");
  EXPECT_TRUE(desk.queue().Find(5)->acknowledged);
  EXPECT_EQ(desk.queue().Find(5)->ackOperator, "ivanov");
  EXPECT_EQ(protocol[0], "Подтверждена тревога №6 (pelvaron-history), объект '0301'");
  EXPECT_EQ(protocol.back(), "    Оператор: ivanov");
  EXPECT_EQ(published.back().ref, 6u);
  EXPECT_EQ(published.back().command, "pelvaron-history");
  EXPECT_EQ(published.back().operatorName, "ivanov");

  // One the console never saw (before a restart, beyond the replay) is recorded all the same.
  desk.AcknowledgeFromOutside(2, "0012", "Тревога по шлейфам", "", "pelvaron-history");
  EXPECT_EQ(published.size(), 2u);
  EXPECT_EQ(protocol.back(), "    Тревога по шлейфам");
}

// A note is one line: from the window it is refused, from the store (written
// by another program) its control characters show as marks.
TEST_F(DeskTest, ANoteWithALineEndNeverForgesAProtocolLine) {
  const std::string forged = "выезд\r\n06:12:2026, 08:47:42  Выключение программы";
  desk.Publish(ContactId(301, 110, true, 3, 7, 100));
  EXPECT_EQ(desk.Acknowledge({7}, forged), 0);
  EXPECT_TRUE(protocol.empty());
  EXPECT_TRUE(published.empty());
  EXPECT_EQ(desk.queue().size(), 1u) << "the alarm still waits";
  ASSERT_EQ(refusals.size(), 1u);
  EXPECT_NE(refusals[0].find("Примечание содержит управляющий символ <CR>"), std::string::npos)
      << refusals[0];

  desk.AcknowledgeFromOutside(7, "0301", "Пожарная тревога", forged, "pelvaron-history\x1b[2J");
  EXPECT_EQ(protocol,
            (std::vector<std::string>{
                "Подтверждена тревога №7 (pelvaron-history<ESC>[2J), объект '0301'", "    Пожарная тревога",
                "    Примечание: выезд<CR><LF>06:12:2026, 08:47:42  Выключение программы"}));
  EXPECT_TRUE(desk.queue().Find(7)->acknowledged);
  // An action's detail and a close's note are refused alike.
  EXPECT_FALSE(desk.AddAction(7, "note", forged));
  EXPECT_FALSE(desk.Close(7, "real", forged));
  EXPECT_EQ(refusals.size(), 3u);
  EXPECT_EQ(desk.queue().size(), 1u);
}

// Acknowledged, acted on, closed: each step in the protocol and an event, naming
// the operator at work; no close without an outcome; a restart keeps what was done.
TEST_F(DeskTest, AnAlarmIsHandledFromAcknowledgementThroughActionsToItsClose) {
  desk.SetOperator("Петров П.П.");
  desk.Publish(ContactId(301, 110, true, 3, 7, 100));
  ASSERT_EQ(desk.Acknowledge({7}, ""), 1);
  ASSERT_TRUE(desk.AddAction(7, "key-holder-called", "Иванов И.И. (директор), +7 900 111-22-33: ответил"));
  ASSERT_TRUE(desk.AddAction(7, "guard-sent", ""));
  const struct {
    const char* outcome;
    const char* note;
  } refused[] = {{"", ""}, {"mystery", ""}, {"other", ""}};
  for (const auto& r : refused) EXPECT_FALSE(desk.Close(7, r.outcome, r.note)) << r.outcome;
  EXPECT_FALSE(desk.AddAction(7, "dance", "")) << "no such action";
  EXPECT_EQ(refusals.size(), 4u);
  const AlarmEntry inHand = *desk.queue().Find(7);
  ASSERT_EQ(inHand.actions.size(), 2u) << "its own events coming back add nothing";
  EXPECT_EQ(inHand.actions[0].operatorName, "Петров П.П.");
  EXPECT_EQ(inHand.ackOperator, "Петров П.П.");

  ASSERT_TRUE(desk.Close(7, "false-user", "кот"));
  EXPECT_TRUE(desk.queue().empty());
  desk.SetOperator("");
  EXPECT_EQ(protocol, (std::vector<std::string>{
                          "Оператор Петров П.П. начал работу",
                          "Подтверждена тревога №7, объект '0301'", "    Пожарная тревога", "    Оператор: Петров П.П.",
                          "Действие по тревоге №7, объект '0301'",
                          "    Звонок ответственному лицу: Иванов И.И. (директор), +7 900 111-22-33: ответил",
                          "    Оператор: Петров П.П.",
                          "Действие по тревоге №7, объект '0301'", "    Выслана группа", "    Оператор: Петров П.П.",
                          "Закрыта тревога №7, объект '0301'", "    Итог: Ложная тревога — ошибка пользователя",
                          "    Примечание: кот", "    Оператор: Петров П.П.",
                          "Оператор Петров П.П. закончил работу"}));
  std::vector<EventKind> kinds;
  for (const Event& e : published) kinds.push_back(e.kind);
  EXPECT_EQ(kinds, (std::vector<EventKind>{EventKind::OperatorSignedIn, EventKind::AlarmAcknowledged,
                                           EventKind::AlarmAction, EventKind::AlarmAction, EventKind::AlarmClosed,
                                           EventKind::OperatorSignedOut}));
  EXPECT_EQ(published[4].command, "false-user");
  EXPECT_EQ(published[4].ref, 7u);
  EXPECT_EQ(published[4].text, "Закрыта тревога №7, объект '0301': Ложная тревога — ошибка пользователя; "
                               "примечание: кот; оператор: Петров П.П.");

  // The same events put a second desk back where the first was before the close.
  AlarmDesk restarted{Table()};
  restarted.Replay(ContactId(301, 110, true, 3, 7, 100), Table().Classify(ContactId(301, 110, true, 3, 7, 100)));
  for (std::size_t i = 1; i < 4; ++i) restarted.Replay(published[i], {});
  ASSERT_EQ(restarted.queue().size(), 1u);
  EXPECT_TRUE(restarted.queue().Find(7)->acknowledged);
  EXPECT_EQ(restarted.queue().Find(7)->actions.size(), 2u);
  EXPECT_FALSE(restarted.queue().NeedsSound()) << "half handled, not new";
  restarted.Replay(published[4], {});
  EXPECT_TRUE(restarted.queue().empty());
}

TEST_F(DeskTest, ReplayPutsTheQueueBackWithoutRecordingAnything) {
  AlarmClass fire{0, AlarmRole::Alarm, "cid:110:01:001"};
  Event alarm = ContactId(301, 110, true, 1, 20, 100);
  desk.Replay(alarm, fire);
  alarm.seq = 21;
  desk.Replay(alarm, fire);
  Event other = ContactId(302, 110, true, 1, 22, 101);
  desk.Replay(other, fire);
  Event ack = ConsoleEvent(EventKind::AlarmAcknowledged, "0302", 23);
  ack.ref = 22;
  desk.Replay(ack, {});
  Event closed = ConsoleEvent(EventKind::AlarmClosed, "0302", 24);
  closed.ref = 22;
  closed.command = "real";
  desk.Replay(closed, {});
  ASSERT_EQ(desk.queue().size(), 1u);
  EXPECT_EQ(desk.queue().Find(20)->repeats, 1);
  EXPECT_TRUE(protocol.empty());
  EXPECT_TRUE(published.empty());
}

}  // namespace
}  // namespace pelvaron
