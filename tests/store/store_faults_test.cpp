// The store under a kill at any moment and a full disk: it opens whole, and
// the console's monitoring never stops for it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "alarms/event_records.h"
#include "app/console.h"
#include "failing_vfs.h"
#include "link/fake_serial_port.h"
#include "sim/frames.h"
#include "store/store_sink.h"
#include "store_support.h"
#include "support/fakes.h"
#include "support/result_support.h"

namespace pelvaron {
namespace {

using testing::At;

class StoreFaultsTest : public testing::StoreFolder {};

std::string IntegrityCheck(EventStore& store) {
  sqlite3_stmt* s = nullptr;
  std::string result;
  if (sqlite3_prepare_v2(store.handle(), "PRAGMA integrity_check", -1, &s, nullptr) == SQLITE_OK &&
      sqlite3_step(s) == SQLITE_ROW) {
    result = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
  }
  sqlite3_finalize(s);
  return result;
}

// The numbers stored, in row order.
std::vector<std::uint64_t> StoredSeqs(EventStore& store) {
  const std::vector<StoredEvent> rows = testing::ValueOf(store.Search({}));
  std::vector<std::uint64_t> seqs;
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) seqs.push_back(it->seq);
  return seqs;
}

TEST_F(StoreFaultsTest, AWriterKilledAtAnyMomentLeavesAWholeStoreWithEveryCommittedEventInOrder) {
  std::mt19937 random(20261207);
  std::uint64_t stored = 0;
  for (int round = 0; round < 12; ++round) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // The real writer, publishing as fast as it takes them.
      close(ready[0]);
      EventStoreSink sink(path, [](const Event&) { return StoredClass{"fire", 1, "k"}; }, 4096);
      if (!sink.OpenNow()) _exit(3);
      sink.Start();
      (void)!write(ready[1], "x", 1);
      for (std::uint64_t seq = stored + 1;; ++seq) {
        while (sink.Queued() > 2000) std::this_thread::yield();
        sink.Publish(At(seq, static_cast<std::int64_t>(seq), "0012", "Пожарная тревога"));
      }
    }
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 40000)(random)));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself: " << status;

    EventStore store;
    ASSERT_TRUE(testing::Succeeded(store.Open(path, EventStore::Mode::ReadWrite)));
    EXPECT_EQ(IntegrityCheck(store), "ok") << "round " << round;
    const std::vector<std::uint64_t> seqs = StoredSeqs(store);
    ASSERT_GE(seqs.size(), stored) << "committed events were lost";
    for (std::size_t i = 0; i < seqs.size(); ++i) ASSERT_EQ(seqs[i], i + 1) << "round " << round;
    stored = seqs.size();
  }
  EXPECT_GT(stored, 0u);
}

TEST_F(StoreFaultsTest, AFullDiskIsToldOnceTheConsoleGoesOnAndTheEventsAreWrittenWhenThereIsRoom) {
  testing::FailingVfs::Register();
  testing::FakeClock clock;
  clock.SetLocal(2026, 12, 7, 10, 0, 0);
  testing::MemoryFileSystem fs;
  testing::RecordingOperator op;
  testing::FakeSerialPort port;
  Console console(clock, fs, op, port, DeviceMap{});
  EventRecords::Settings settings;
  settings.storePath = path;
  settings.vfs = testing::FailingVfs::kName;
  settings.soundOverride = [] {};
  EventRecords records(fs, clock, settings);
  EventStoreSink& sink = records.store();
  sink.retryMs_ = 20;
  ConsoleHooks hooks = records.Hooks();
  hooks.beforeStartup(console, op);
  console.Startup();
  auto tick = [&](bool message) {
    port.answers.clear();
    port.rx.clear();
    port.answers.push_back({static_cast<std::uint8_t>(message ? 0x0A : 0x08)});
    if (message) {
      sim::ContactIdEvent e;
      e.address = 12;
      e.code = 130;
      sim::Frame f = sim::ContactIdFrame(e);
      port.answers.push_back({f.begin(), f.end()});
    }
    clock.AdvanceSeconds(1);
    console.OnTimer();
    hooks.afterTick(console);
  };
  tick(false);
  ASSERT_TRUE(sink.WaitUntilWritten(20000));

  testing::FailingVfs::full = true;
  const std::size_t protocolBefore = fs.Text("protocol.txt").size();
  for (int i = 0; i < 5; ++i) tick(true);
  EXPECT_FALSE(sink.WaitUntilWritten(200)) << "nothing can be written";
  for (int i = 0; i < 5; ++i) tick(true);
  // Monitoring went on: every message reached the protocol and the queue.
  EXPECT_GT(fs.Text("protocol.txt").size(), protocolBefore);
  EXPECT_EQ(records.desk().queue().Sorted().at(0).repeats, 9);
  ASSERT_GT(testing::FailingVfs::failedWrites.load(), 0);
  ASSERT_EQ(op.messages.size(), 1u) << "one message for the outage";
  const std::string& told = op.messages[0].text;
  EXPECT_NE(told.find(" не записывается: диск заполнен. "), std::string::npos) << told;
  // SQLite's words last, whichever step found the disk full.
  EXPECT_TRUE(told.ends_with(": database or disk is full)")) << told;

  testing::FailingVfs::full = false;
  ASSERT_TRUE(sink.WaitUntilWritten(20000));
  tick(false);
  ASSERT_EQ(op.messages.size(), 2u);
  EXPECT_EQ(op.messages[1].text, "Хранилище событий " + path + " снова записывается.");
  console.Shutdown();
  hooks.afterShutdown(console);

  EventStore store;
  ASSERT_TRUE(testing::Succeeded(store.Open(path, EventStore::Mode::ReadOnly)));
  EXPECT_EQ(IntegrityCheck(store), "ok");
  HistoryQuery q;
  q.address = "0012";
  const Result<std::vector<StoredEvent>> rows = store.Search(q);
  ASSERT_TRUE(testing::Succeeded(rows));
  EXPECT_EQ(rows->size(), 10u) << "none of the messages lost";
  const std::vector<std::uint64_t> seqs = StoredSeqs(store);
  for (std::size_t i = 1; i < seqs.size(); ++i) EXPECT_LT(seqs[i - 1], seqs[i]) << "in order";
}

}  // namespace
}  // namespace pelvaron
