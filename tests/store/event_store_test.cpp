#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <string>
#include <vector>

#include "store/event_store.h"
#include "store/history_format.h"
#include "store/store_sink.h"
#include "store_support.h"
#include "support/result_support.h"

namespace pelvaron {
namespace {

using testing::At;
using testing::ProblemOf;
using testing::Succeeded;
using testing::ValueOf;

class EventStoreTest : public testing::StoreFolder {
 protected:
  void Seed() {
    ASSERT_TRUE(Succeeded(store.Open(path, EventStore::Mode::ReadWrite)));
    ASSERT_TRUE(Succeeded(store.Begin()));
    const StoredClass fire{"fire", 1, "cid:110"}, info{"information", 0, ""};
    ASSERT_TRUE(Succeeded(store.Insert(At(1, 1000, "0012", "Тревога по шлейфам"), {"burglary", 1, "loop:6"})));
    ASSERT_TRUE(Succeeded(store.Insert(At(2, 1000, "0301", "Пожарная тревога"), fire)));
    ASSERT_TRUE(Succeeded(store.Insert(At(3, 2000, "0012", "Контрольное извещение"), info)));
    ASSERT_TRUE(Succeeded(store.Insert(At(4, 3000, "4660", "Корпус Тамсир вскрыт"), {"tamper", 1, "d:2"})));
    ASSERT_TRUE(Succeeded(store.Insert(At(5, 4000, "", "Нет связи с Велдор!", EventKind::LinkLost), {"trouble", 1, "c"})));
    ASSERT_TRUE(Succeeded(store.Insert(At(6, 5000, "0012", "Тревога по шлейфам"), {"burglary", 1, "loop:6"})));
    ASSERT_TRUE(Succeeded(store.Commit()));
  }
  std::vector<std::uint64_t> Seqs(const HistoryQuery& q) {
    const std::vector<StoredEvent> rows = ValueOf(store.Search(q));
    std::vector<std::uint64_t> seqs;
    for (const StoredEvent& e : rows) seqs.push_back(e.seq);
    return seqs;
  }

  EventStore store;
};

TEST_F(EventStoreTest, SearchesByTimeAddressPriorityAndTextNewestFirst) {
  Seed();
  using V = std::vector<std::uint64_t>;
  EXPECT_EQ(Seqs({}), (V{6, 5, 4, 3, 2, 1}));
  HistoryQuery q;
  q.address = "0012";
  EXPECT_EQ(Seqs(q), (V{6, 3, 1}));
  q.address = "12";  // as typed
  EXPECT_EQ(Seqs(q), (V{6, 3, 1}));
  q.from = 1000;
  q.to = 2000;  // inclusive at both ends
  EXPECT_EQ(Seqs(q), (V{3, 1}));
  q = {};
  q.priority = "burglary";
  EXPECT_EQ(Seqs(q), (V{6, 1}));
  q = {};
  q.text = "ТРЕВОГА";  // any letter case, Cyrillic too
  EXPECT_EQ(Seqs(q), (V{6, 2, 1}));
  q.text = "велдор";
  EXPECT_EQ(Seqs(q), (V{5}));
  q = {};
  q.limit = 2;
  EXPECT_EQ(Seqs(q), (V{6, 5}));
  q = {};
  q.address = "9999";
  EXPECT_TRUE(Seqs(q).empty());

  // Everything of an event comes back as it went in.
  std::optional<StoredEvent> e = ValueOf(store.FindBySeq(5));
  ASSERT_TRUE(e);
  EXPECT_EQ(e->kind, "link-lost");
  EXPECT_EQ(e->timeText, "t4000");
  EXPECT_EQ(e->cls.priority, "trouble");
  EXPECT_EQ(e->cls.role, 1);
  EXPECT_FALSE(e->acknowledged);
  EXPECT_FALSE(ValueOf(store.FindBySeq(77)));
}

TEST_F(EventStoreTest, OneObjectsDayIsFoundThroughTheAddressAndTimeIndexWithoutSorting) {
  Seed();
  HistoryQuery q;
  q.address = "0012";
  q.from = 0;
  q.to = 86399;
  Result<std::string> plan = store.SearchPlan(q);
  ASSERT_TRUE(Succeeded(plan));
  EXPECT_NE(plan->find("events_address_time"), std::string::npos) << *plan;
  EXPECT_EQ(plan->find("TEMP B-TREE"), std::string::npos) << *plan;
  q.address.clear();
  plan = store.SearchPlan(q);
  ASSERT_TRUE(Succeeded(plan));
  EXPECT_NE(plan->find("events_time"), std::string::npos) << *plan;
  EXPECT_EQ(plan->find("TEMP B-TREE"), std::string::npos) << *plan;
}

TEST_F(EventStoreTest, AnAcknowledgementAskedForElsewhereWaitsUntilAnEventRecordsIt) {
  Seed();
  const Result<std::int64_t> first = store.RequestAcknowledgement(1, 6000, "ложная", "pelvaron-history");
  ASSERT_TRUE(Succeeded(first));
  ASSERT_TRUE(Succeeded(store.RequestAcknowledgement(4, 6001, "", "pelvaron-history")));
  Result<std::vector<PendingAcknowledgement>> pending = store.PendingAcknowledgements(0);
  ASSERT_TRUE(Succeeded(pending));
  ASSERT_EQ(pending->size(), 2u);
  EXPECT_EQ((*pending)[0].ref, 1u);
  EXPECT_EQ((*pending)[0].note, "ложная");
  EXPECT_EQ((*pending)[0].address, "0012");
  EXPECT_EQ((*pending)[0].text, "Тревога по шлейфам");
  pending = store.PendingAcknowledgements(*first);
  ASSERT_TRUE(Succeeded(pending));
  ASSERT_EQ(pending->size(), 1u) << "only those after the last one seen";

  // The history counts the request as the acknowledgement until the console's event comes.
  EXPECT_TRUE(ValueOf(store.FindBySeq(1))->acknowledged);
  EXPECT_EQ(ValueOf(store.FindBySeq(1))->ackNote, "ложная");

  Event ack = At(7, 6002, "0012", "Подтверждена тревога №1", EventKind::AlarmAcknowledged);
  ack.ref = 1;
  ack.detail = "ложная";
  ASSERT_TRUE(Succeeded(store.Insert(ack, {})));
  pending = store.PendingAcknowledgements(0);
  ASSERT_TRUE(Succeeded(pending));
  ASSERT_EQ(pending->size(), 1u);
  EXPECT_EQ((*pending)[0].ref, 4u);
  EXPECT_EQ(ValueOf(store.FindBySeq(1))->ackTime, 6002);
  // The queue's history: alarms and acknowledgements, oldest first.
  const Result<std::vector<StoredEvent>> history = store.AlarmHistory(1500);
  ASSERT_TRUE(Succeeded(history));
  std::vector<std::uint64_t> seqs;
  for (const StoredEvent& e : *history) seqs.push_back(e.seq);
  EXPECT_EQ(seqs, (std::vector<std::uint64_t>{4, 5, 6, 7}));
}

TEST_F(EventStoreTest, ARequestCoversTheAlarmItNamesEvenWhenMadeBeforeItsTimeButNoLaterOne) {
  Seed();
  // The clock was set back between the alarm and the request.
  ASSERT_TRUE(Succeeded(store.RequestAcknowledgement(1, 900, "", "pelvaron-history")));
  EXPECT_TRUE(ValueOf(store.FindBySeq(1))->acknowledged);
  EXPECT_FALSE(ValueOf(store.FindBySeq(6))->acknowledged) << "the next alarm of its kind came after the request";
  ASSERT_TRUE(Succeeded(store.RequestAcknowledgement(6, 4500, "", "pelvaron-history")));
  EXPECT_TRUE(ValueOf(store.FindBySeq(6))->acknowledged);
  EXPECT_EQ(ValueOf(store.FindBySeq(6))->ackTime, 4500);
}

// The console's writer asks for requests every few seconds but reads them
// only when another process has written; none may be missed or told twice.
TEST_F(EventStoreTest, TheWriterHearsEachRequestMadeElsewhereOnceWhateverComesBetweenItsPolls) {
  Seed();
  store.Close();
  EventStoreSink sink(path, [](const Event&) { return StoredClass{"fire", 1, "k"}; });
  ASSERT_TRUE(Succeeded(sink.OpenNow()));
  sink.Start();
  auto poll = [&] {
    EXPECT_TRUE(sink.WaitUntilWritten(20000));
    std::vector<std::uint64_t> refs;
    for (const PendingAcknowledgement& a : sink.TakeReport().acknowledgements) refs.push_back(a.ref);
    return refs;
  };
  EventStore other;  // pelvaron-history
  ASSERT_TRUE(Succeeded(other.Open(path, EventStore::Mode::ReadWrite)));
  EXPECT_EQ(poll(), std::vector<std::uint64_t>{});
  ASSERT_TRUE(Succeeded(other.RequestAcknowledgement(1, 6000, "", "pelvaron-history")));
  EXPECT_EQ(poll(), std::vector<std::uint64_t>{1});
  // Quiet polls, and the console's own writes between them, bring nothing again.
  EXPECT_EQ(poll(), std::vector<std::uint64_t>{});
  sink.Publish(At(7, 6001, "0301", "Пожарная тревога"));
  EXPECT_EQ(poll(), std::vector<std::uint64_t>{});
  EXPECT_EQ(poll(), std::vector<std::uint64_t>{});
  // A write elsewhere that is no request moves nothing either.
  ASSERT_TRUE(Succeeded(other.Begin()));
  ASSERT_TRUE(Succeeded(other.Insert(At(8, 6002, "0012", "Контрольное извещение"), {})));
  ASSERT_TRUE(Succeeded(other.Commit()));
  EXPECT_EQ(poll(), std::vector<std::uint64_t>{});
  // Two requests between two polls, after many quiet ones: both, in order.
  ASSERT_TRUE(Succeeded(other.RequestAcknowledgement(4, 6003, "", "pelvaron-history")));
  ASSERT_TRUE(Succeeded(other.RequestAcknowledgement(6, 6004, "", "pelvaron-history")));
  EXPECT_EQ(poll(), (std::vector<std::uint64_t>{4, 6}));
  EXPECT_EQ(poll(), std::vector<std::uint64_t>{});
  sink.Stop();
}

// The console asks every two seconds; the writer is woken only when the
// store's files show a write since the last time, and now and then anyway.
TEST_F(EventStoreTest, TheConsoleWakesTheWriterOnlyWhenTheStoreWasWrittenSince) {
  Seed();
  store.Close();
  EventStoreSink sink(path, [](const Event&) { return StoredClass{"fire", 1, "k"}; });
  ASSERT_TRUE(Succeeded(sink.OpenNow()));
  sink.Start();
  EXPECT_TRUE(sink.RequestPoll()) << "the first time";
  ASSERT_TRUE(sink.WaitUntilWritten(20000));
  EXPECT_FALSE(sink.RequestPoll());
  EXPECT_FALSE(sink.RequestPoll());

  EventStore other;  // pelvaron-history
  ASSERT_TRUE(Succeeded(other.Open(path, EventStore::Mode::ReadWrite)));
  ASSERT_TRUE(Succeeded(other.RequestAcknowledgement(4, 6000, "", "pelvaron-history")));
  EXPECT_TRUE(sink.RequestPoll());
  ASSERT_TRUE(sink.WaitUntilWritten(20000));
  const std::vector<PendingAcknowledgement> heard = sink.TakeReport().acknowledgements;
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0].ref, 4u);
  EXPECT_FALSE(sink.RequestPoll());

  // Its own writes wake it once (data_version then spares it the query).
  sink.Publish(At(7, 6001, "0301", "Пожарная тревога"));
  ASSERT_TRUE(sink.WaitUntilWritten(20000));
  EXPECT_TRUE(sink.RequestPoll());
  EXPECT_FALSE(sink.RequestPoll());

  int woken = 0;
  for (int i = 0; i < 40; ++i) woken += sink.RequestPoll() ? 1 : 0;
  EXPECT_GE(woken, 1) << "a quiet store is looked at now and then all the same";
  EXPECT_LE(woken, 4);
  sink.Stop();
}

TEST_F(EventStoreTest, AnAcknowledgementCoversItsAlarmsRepeatsButNotTheNextAlarmOfItsKind) {
  Seed();  // 1 and 6: the same loop alarm of 0012, the second a repeat
  Event ack = At(7, 6000, "0012", "Подтверждена тревога №1", EventKind::AlarmAcknowledged);
  ack.ref = 1;
  ack.detail = "выезд";
  ASSERT_TRUE(Succeeded(store.Insert(ack, {})));
  ASSERT_TRUE(Succeeded(store.Insert(At(8, 7000, "0012", "Тревога по шлейфам"), {"burglary", 1, "loop:6"})));
  EXPECT_EQ(ValueOf(store.FindBySeq(6))->ackNote, "выезд");
  EXPECT_FALSE(ValueOf(store.FindBySeq(8))->acknowledged) << "came after the acknowledgement";
  EXPECT_FALSE(ValueOf(store.FindBySeq(4))->acknowledged);
  // pelvaron-history --ack of the repeat: answered already, the console records nothing.
  ASSERT_TRUE(Succeeded(store.RequestAcknowledgement(6, 6100, "", "pelvaron-history")));
  const Result<std::vector<PendingAcknowledgement>> pending = store.PendingAcknowledgements(0);
  ASSERT_TRUE(Succeeded(pending));
  EXPECT_TRUE(pending->empty());

  // A store written before acknowledgements kept their alarm's key learns them when opened.
  ASSERT_EQ(sqlite3_exec(store.handle(), "UPDATE events SET alarm_key = '' WHERE alarm = 3; PRAGMA user_version = 1",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  ASSERT_TRUE(Succeeded(store.Open(path, EventStore::Mode::ReadWrite)));
  EXPECT_TRUE(ValueOf(store.FindBySeq(6))->acknowledged);
  EXPECT_FALSE(ValueOf(store.FindBySeq(8))->acknowledged);

  // The key acknowledged a second time: each alarm keeps the first acknowledgement after it.
  Event second = At(9, 8000, "0012", "Подтверждена тревога №8", EventKind::AlarmAcknowledged);
  second.ref = 8;
  second.detail = "повторный выезд";
  ASSERT_TRUE(Succeeded(store.Insert(second, {})));
  for (std::uint64_t seq : {1, 6}) {
    EXPECT_EQ(ValueOf(store.FindBySeq(seq))->ackNote, "выезд") << seq;
    EXPECT_EQ(ValueOf(store.FindBySeq(seq))->ackTime, 6000) << seq;
  }
  EXPECT_EQ(ValueOf(store.FindBySeq(8))->ackNote, "повторный выезд");
}

TEST_F(EventStoreTest, AFileThatIsNoStoreIsRefusedAndLeftAlone) {
  {
    std::ofstream out(path, std::ios::binary);
    out << "protocol text, not a database................................................................";
  }
  const auto size = std::filesystem::file_size(path);
  const Result<> notAStore = store.Open(path, EventStore::Mode::ReadWrite);
  EXPECT_FALSE(notAStore);
  EXPECT_NE(ProblemOf(notAStore).cause.find("file is not a database"), std::string::npos) << ProblemOf(notAStore).cause;
  EXPECT_EQ(ProblemOf(notAStore).text, "файл не является базой данных");
  EXPECT_FALSE(store.IsOpen());
  const Result<> missing = store.Open(folder + "/missing.sqlite", EventStore::Mode::ReadOnly);
  EXPECT_FALSE(missing);
  EXPECT_EQ(ProblemOf(missing).text, "нет такого файла или папки") << ProblemOf(missing).cause;
  EXPECT_EQ(std::filesystem::file_size(path), size);
}

TEST_F(EventStoreTest, AStoreOfANewerProgramIsRefusedForWritingSayingWhy) {
  Seed();
  ASSERT_EQ(sqlite3_exec(store.handle(), "PRAGMA user_version = 9", nullptr, nullptr, nullptr), SQLITE_OK);
  store.Close();
  const Result<> newer = store.Open(path, EventStore::Mode::ReadWrite);
  EXPECT_FALSE(newer);
  EXPECT_EQ(ProblemOf(newer).text, "его записала более новая версия программы") << ProblemOf(newer).cause;
  EXPECT_NE(ProblemOf(newer).cause.find("newer program (schema 9)"), std::string::npos) << ProblemOf(newer).cause;
  EXPECT_FALSE(store.IsOpen());
  // Its events can still be read.
  ASSERT_TRUE(Succeeded(store.Open(path, EventStore::Mode::ReadOnly)));
  EXPECT_EQ(Seqs({}).size(), 6u);
}

// A store made before answers were kept gets their table; a request keeps
// its first answer, and answers older than the limit are forgotten.
TEST_F(EventStoreTest, AnswersToRequestsAreKeptOnceEachAndForgottenWhenOld) {
  Seed();
  ASSERT_EQ(sqlite3_exec(store.handle(), "DROP TABLE commands", nullptr, nullptr, nullptr), SQLITE_OK);
  store.Close();
  ASSERT_TRUE(Succeeded(store.Open(path, EventStore::Mode::ReadWrite)));
  const std::int64_t day = 86400;
  const CommandAnswer first{"r1", 100 * day, true, ""}, again{"r1", 100 * day, false, "Нет."},
      other{"r2", 120 * day, false, "Тревоги №3 уже нет в очереди."}, late{"r3", 131 * day, true, ""};
  ASSERT_TRUE(Succeeded(store.KeepAnswer(first, 70 * day)));
  ASSERT_TRUE(Succeeded(store.KeepAnswer(again, 70 * day)));
  ASSERT_TRUE(Succeeded(store.KeepAnswer(other, 90 * day)));
  EXPECT_EQ(ValueOf(store.Answers()), (std::vector<CommandAnswer>{first, other}));
  ASSERT_TRUE(Succeeded(store.KeepAnswer(late, 101 * day)));
  EXPECT_EQ(ValueOf(store.Answers()), (std::vector<CommandAnswer>{other, late}));
}

TEST(HistoryFormat, CsvQuotesWhatNeedsItAndJsonEscapesEveryControlCharacter) {
  StoredEvent e;
  e.seq = 3;
  e.timeText = "2026-12-07T10:22:20+03:00";
  e.kind = "message";
  e.address = "0012";
  e.text = "Магазин \"Продукты\", касса";
  e.detail = "строка\nвторая\t\x01";
  e.cls = {"fire", 1, "k"};
  const std::string csv = FormatHistoryCsv({e}, [](const std::string&) { return "Пожар"; });
  EXPECT_EQ(csv,
            "seq,time,station,kind,address,priority,role,text,detail,acknowledged,note\r\n"
            "3,2026-12-07T10:22:20+03:00,,message,0012,Пожар,alarm,\"Магазин \"\"Продукты\"\", касса\","
            "\"строка\nвторая\t\x01\",,\r\n");
  EXPECT_EQ(FormatHistoryJson({e}),
            "{\"seq\":3,\"time\":\"2026-12-07T10:22:20+03:00\",\"station\":\"\",\"kind\":\"message\","
            "\"address\":\"0012\",\"priority\":\"fire\",\"role\":\"alarm\",\"text\":\"Магазин \\\"Продукты\\\", "
            "касса\",\"detail\":\"строка\\nвторая\\t\\u0001\",\"acknowledged\":null}\n");
  // The table lines its columns up by characters, not bytes.
  e.seq = 12;
  StoredEvent other = e;
  other.seq = 7;
  other.address = "513";
  other.cls = {};
  const std::string table = FormatHistoryTable({e, other});
  EXPECT_NE(table.find("12  2026-12-07 10:22:20  0012   fire       Магазин"), std::string::npos) << table;
  EXPECT_NE(table.find(" 7  2026-12-07 10:22:20  513               Магазин"), std::string::npos) << table;
  EXPECT_EQ(AddressForms("12"), (std::vector<std::string>{"12", "0012"}));
  EXPECT_EQ(AddressForms("4660"), (std::vector<std::string>{"4660"}));
  EXPECT_EQ(FoldCase("ЁЛКА Zz ёжик"), "ёлка zz ёжик");
  EXPECT_EQ(FoldCase("A\xD0Б\xFF\xC0\x80Ё"), "a\xD0б\xFF\xC0\x80ё");  // what is not UTF-8 stays as it is
}

}  // namespace
}  // namespace pelvaron
