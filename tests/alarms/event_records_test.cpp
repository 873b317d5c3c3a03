// The store and the queue beside a console on fakes: what the operator sees
// in the protocol and finds in the store, across restarts.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "alarms/event_records.h"
#include "app/console.h"
#include "link/fake_serial_port.h"
#include "sim/frames.h"
#include "store/event_store.h"
#include "support/fakes.h"
#include "support/result_support.h"

namespace pelvaron {
namespace {

using testing::Cp;
using testing::FakeClock;
using testing::FakeSerialPort;
using testing::MemoryFileSystem;
using testing::RecordingOperator;

std::vector<std::uint8_t> Frame(const sim::Frame& f) {
  return {f.begin(), f.end()};
}

std::vector<std::uint8_t> Fire(bool newEvent = true) {
  sim::ContactIdEvent e;
  e.address = 301;
  e.code = 110;
  e.zone = 3;
  e.newEvent = newEvent;
  return Frame(sim::ContactIdFrame(e));
}

// One console run on fakes with the records in a real folder.
struct ConsoleRun {
  ConsoleRun(const std::string& folder, FakeClock& clock, MemoryFileSystem& fs)
      : console(clock, fs, op, port, DeviceMap{}), records(fs, clock, Settings(folder, this)) {
    hooks = records.Hooks();
    hooks.beforeStartup(console, op);
    console.Startup();
  }
  ~ConsoleRun() {
    console.Shutdown();
    hooks.afterShutdown(console);
  }
  static EventRecords::Settings Settings(const std::string& folder, ConsoleRun* run) {
    EventRecords::Settings s;
    s.storePath = folder + "/events.sqlite";
    s.soundOverride = [run] { ++run->sounds; };
    return s;
  }
  void Tick(std::vector<std::vector<std::uint8_t>> frames = {}) {
    port.answers.clear();
    port.rx.clear();
    port.answers.push_back({static_cast<std::uint8_t>(frames.empty() ? 0x08 : 0x0A)});
    for (auto& f : frames) port.answers.push_back(std::move(f));
    console.OnTimer();
    hooks.afterTick(console);
  }

  RecordingOperator op;
  FakeSerialPort port;
  Console console;
  EventRecords records;
  ConsoleHooks hooks;
  int sounds = 0;
};

class EventRecordsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/pelvaron-records-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    folder = name;
    clock.SetLocal(2026, 12, 7, 10, 0, 0);
  }
  void TearDown() override { std::filesystem::remove_all(folder); }

  std::vector<StoredEvent> Stored(const std::string& address = {}) {
    EventStore store;
    EXPECT_TRUE(testing::Succeeded(store.Open(folder + "/events.sqlite", EventStore::Mode::ReadOnly)));
    HistoryQuery q;
    q.address = address;
    return testing::ValueOf(store.Search(q));
  }

  std::string folder;
  FakeClock clock;
  MemoryFileSystem fs;
};

TEST_F(EventRecordsTest, AnAlarmIsQueuedSoundedStoredAndItsAcknowledgementRecordedInBoth) {
  ConsoleRun run(folder, clock, fs);
  run.Tick();
  run.Tick({Fire()});
  AlarmDesk& desk = run.records.desk();
  ASSERT_EQ(desk.queue().size(), 1u);
  EXPECT_EQ(run.sounds, 1);
  const std::uint64_t id = desk.queue().Sorted()[0].id;

  clock.AdvanceSeconds(1);
  EXPECT_EQ(desk.Acknowledge({id}, "выезд"), 1);
  EXPECT_NE(fs.Text("protocol.txt").find(Cp("07:12:2026, 10:00:01   Подтверждена тревога №" + std::to_string(id) +
                                            ", объект '0301'\r\n    Пожарная тревога\r\n    Примечание: выезд\r\n")),
            std::string::npos);
  ASSERT_TRUE(run.records.store().WaitUntilWritten(20000));

  std::vector<StoredEvent> rows = Stored("301");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].kind, "alarm-acknowledged");  // newest first
  EXPECT_EQ(rows[0].ref, id);
  EXPECT_EQ(rows[1].seq, id);
  EXPECT_EQ(rows[1].cls.priority, "fire");
  EXPECT_EQ(rows[1].cls.role, 1);
  EXPECT_TRUE(rows[1].acknowledged);
  EXPECT_EQ(rows[1].ackNote, "выезд");
  ASSERT_EQ(rows[1].frame.size(), 10u);
  EXPECT_EQ(rows[1].frame, Fire());
  // Everything the console said is stored, information too.
  EXPECT_GE(Stored().size(), 4u);  // started, link restored, the alarm, its acknowledgement
  EXPECT_TRUE(run.op.messages.empty());
}

TEST_F(EventRecordsTest, AnAcknowledgementMadeWithoutTheWindowIsRecordedByTheRunningConsole) {
  ConsoleRun run(folder, clock, fs);
  run.Tick({Fire()});
  const std::uint64_t id = run.records.desk().queue().Sorted().at(0).id;
  ASSERT_TRUE(run.records.store().WaitUntilWritten(20000));
  {
    EventStore other;  // what pelvaron-history does
    ASSERT_TRUE(testing::Succeeded(other.Open(folder + "/events.sqlite", EventStore::Mode::ReadWrite)));
    ASSERT_TRUE(testing::Succeeded(other.RequestAcknowledgement(id, clock.now, "ложная", "pelvaron-history", "ivanov")));
  }
  clock.AdvanceSeconds(2);
  run.Tick();  // asks the store
  ASSERT_TRUE(run.records.store().WaitUntilWritten(20000));
  run.Tick();  // hears the answer
  ASSERT_EQ(run.records.desk().queue().size(), 1u);
  EXPECT_TRUE(run.records.desk().queue().Sorted()[0].acknowledged) << "acknowledged, in hand until closed";
  EXPECT_NE(fs.Text("protocol.txt").find(Cp("Подтверждена тревога №" + std::to_string(id) + " (pelvaron-history)")),
            std::string::npos);
  EXPECT_NE(fs.Text("protocol.txt").find(Cp("    Оператор: ivanov\r\n")), std::string::npos);
  // Recorded once, however often the store is asked again.
  clock.AdvanceSeconds(2);
  run.Tick();
  ASSERT_TRUE(run.records.store().WaitUntilWritten(20000));
  run.Tick();
  std::vector<StoredEvent> rows = Stored("0301");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].kind, "alarm-acknowledged");
  EXPECT_EQ(rows[0].detail, "ложная");
  EXPECT_EQ(rows[0].operatorName, "ivanov");
}

TEST_F(EventRecordsTest, TheQueueComesBackAfterARestartHalfHandledAsItWasUntilClosed) {
  std::uint64_t id = 0;
  {
    ConsoleRun run(folder, clock, fs);
    run.Tick({Fire()});
    sim::ContactIdEvent restored;
    restored.address = 302;
    restored.code = 130;
    run.Tick({Frame(sim::ContactIdFrame(restored))});
    restored.newEvent = false;
    run.Tick({Frame(sim::ContactIdFrame(restored))});
    id = run.records.desk().queue().Sorted().at(0).id;
  }
  clock.AdvanceSeconds(3600);
  {
    ConsoleRun run(folder, clock, fs);
    const AlarmQueue& queue = run.records.desk().queue();
    ASSERT_EQ(queue.size(), 2u);
    EXPECT_EQ(queue.Sorted()[0].id, id);
    EXPECT_TRUE(queue.Sorted()[1].restored);
    run.Tick();
    EXPECT_EQ(run.sounds, 1) << "an alarm from before the restart still sounds";
    AlarmDesk& desk = run.records.desk();
    desk.SetOperator("Иванова");
    desk.Acknowledge({queue.Sorted()[0].id, queue.Sorted()[1].id}, "");
    ASSERT_TRUE(desk.AddAction(id, "guard-sent", "ГБР-3"));
    ASSERT_TRUE(run.records.store().WaitUntilWritten(20000));
  }
  {
    ConsoleRun run(folder, clock, fs);
    const AlarmQueue& queue = run.records.desk().queue();
    ASSERT_EQ(queue.size(), 2u) << "acknowledged, not closed";
    const AlarmEntry fire = queue.Sorted()[0];
    EXPECT_EQ(fire.id, id);
    EXPECT_TRUE(fire.acknowledged);
    EXPECT_EQ(fire.ackOperator, "Иванова");
    ASSERT_EQ(fire.actions.size(), 1u);
    EXPECT_EQ(fire.actions[0].code, "guard-sent");
    EXPECT_EQ(fire.actions[0].operatorName, "Иванова");
    run.Tick();
    EXPECT_EQ(run.sounds, 0) << "an acknowledged alarm is quiet after a restart too";
    AlarmDesk& desk = run.records.desk();
    EXPECT_FALSE(desk.Close(id, "", "")) << "no close without an outcome";
    EXPECT_TRUE(desk.Close(id, "real", ""));
    EXPECT_TRUE(desk.Close(queue.Sorted()[0].id, "test", ""));
    ASSERT_TRUE(run.records.store().WaitUntilWritten(20000));
    std::vector<StoredEvent> rows = Stored("0301");
    ASSERT_GE(rows.size(), 3u);
    EXPECT_EQ(rows[0].kind, "alarm-closed");
    EXPECT_EQ(rows[0].cls.role, 5);
    EXPECT_EQ(rows[0].command, "real");
    EXPECT_EQ(rows[0].ref, id);
  }
  {
    ConsoleRun run(folder, clock, fs);
    EXPECT_TRUE(run.records.desk().queue().empty());
  }
}

// A damaged events.seq once gave numbers the store held already.
TEST_F(EventRecordsTest, ADamagedNumberFileIsToldAndNumberingGoesOnAboveTheStore) {
  { ConsoleRun run(folder, clock, fs); }
  const std::uint64_t highest = Stored().front().seq;
  fs.files[kEventSequenceFileName] = {'x'};
  {
    ConsoleRun run(folder, clock, fs);
    ASSERT_EQ(run.op.messages.size(), 1u);
    EXPECT_EQ(run.op.messages[0].text,
              "Файл номеров событий events.seq повреждён; нумерация продолжена с " +
                  std::to_string(highest + 1) +
                  ", после последнего события в хранилище. Файл будет записан заново.");
  }
  EXPECT_EQ(Stored().front().seq, highest + 2) << "its start and stop, numbered on";
}

// A store another program holds locked at shutdown once cost seconds and the
// queued events, silently: now they wait beside it, told, and the next start
// writes them in first, so that the alarm queue comes back whole.
TEST_F(EventRecordsTest, EventsAStoreLockedAtShutdownCouldNotTakeAreKeptForTheNextStart) {
  const std::string unsaved = folder + "/events.sqlite.unsaved";
  {
    ConsoleRun run(folder, clock, fs);
    run.Tick({Fire()});
    ASSERT_TRUE(run.records.store().WaitUntilWritten(20000));
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open((folder + "/events.sqlite").c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    for (int i = 0; i < 3; ++i) run.Tick({Fire()});
    run.console.Shutdown();
    run.hooks.afterShutdown(run.console);  // while the other still holds it
    EXPECT_NE(run.op.messages.back().text.find(
                  "занято другой программой); не записано событий: 4. Они сохранены в " + unsaved),
              std::string::npos);
    sqlite3_close(other);
  }
  ConsoleRun next(folder, clock, fs);
  EXPECT_EQ(next.records.desk().queue().Sorted().at(0).repeats, 3);
  next.Tick();
  EXPECT_NE(next.op.messages.back().text.find(" при прошлом выключении: 4."), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(unsaved));
  ASSERT_TRUE(next.records.store().WaitUntilWritten(20000));
  std::vector<StoredEvent> rows = Stored();  // newest first
  ASSERT_EQ(rows.size(), 9u) << "start, link, fire; three fires and the stop kept; start and link";
  for (std::size_t i = 1; i < rows.size(); ++i) EXPECT_GT(rows[i - 1].seq, rows[i].seq) << "in order";
}

TEST_F(EventRecordsTest, AStoreOfANewerProgramIsToldByItsCauseOnceAndMonitoringGoesOn) {
  {
    EventStore store;
    ASSERT_TRUE(testing::Succeeded(store.Open(folder + "/events.sqlite", EventStore::Mode::ReadWrite)));
    ASSERT_EQ(sqlite3_exec(store.handle(), "PRAGMA user_version = 9", nullptr, nullptr, nullptr), SQLITE_OK);
  }
  ConsoleRun run(folder, clock, fs);
  run.Tick({Fire()});
  run.Tick({Fire()});
  ASSERT_EQ(run.op.messages.size(), 1u);
  const std::string& told = run.op.messages[0].text;
  EXPECT_NE(told.find("events.sqlite не открывается: его записала более новая версия программы. "),
            std::string::npos)
      << told;
  EXPECT_TRUE(told.ends_with(" (set up: made by a newer program (schema 9))")) << told;
  EXPECT_EQ(run.records.desk().queue().size(), 1u);
  EXPECT_EQ(run.sounds, 1);
  run.records.store().Stop(0);  // nothing it holds can be written: no wait for it at shutdown
}

TEST_F(EventRecordsTest, ABadPriorityTableIsToldOnceAndTheShippedOneServes) {
  const std::string bad = "priority fire ack - Пожар\ncid 110 fyre\n";
  fs.files["priorities.txt"] = std::vector<std::uint8_t>(bad.begin(), bad.end());
  ConsoleRun run(folder, clock, fs);
  run.Tick({Fire()});
  ASSERT_EQ(run.op.messages.size(), 1u);
  EXPECT_NE(run.op.messages[0].text.find("priorities.txt не принята: строка 2"), std::string::npos);
  EXPECT_EQ(run.records.desk().queue().size(), 1u);
}

}  // namespace
}  // namespace pelvaron
