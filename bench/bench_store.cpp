// The event store: writes per second off the tick's thread, a search of one
// object's day among a million events, and the longest tick of a console with
// the store on and off.
//
// The million-event store is made once in $PELVARON_BENCH_DIR (default /tmp)
// and kept for later runs (some 200 MB).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "alarms/event_records.h"
#include "app/console.h"
#include "link/fake_serial_port.h"
#include "platform/real_file_system.h"
#include "platform/system_clock.h"
#include "sim/frames.h"
#include "store/event_store.h"
#include "store/store_sink.h"

namespace {

namespace fs = std::filesystem;
using namespace pelvaron;

std::string BenchDir() {
  const char* dir = std::getenv("PELVARON_BENCH_DIR");
  return dir && *dir ? dir : "/tmp";
}

std::string FreshFolder(const char* name) {
  fs::path dir = fs::path(BenchDir()) / (std::string(name) + "-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir.string();
}

// A Contact ID message as the console publishes it.
Event MessageEvent(std::uint64_t seq, std::int64_t time, int address, int code) {
  sim::ContactIdEvent c;
  c.address = address;
  c.code = code;
  c.zone = static_cast<int>(seq % 32);
  const sim::Frame frame = sim::ContactIdFrame(c);
  auto message = std::make_shared<DecodedMessage>(DecodeMessage(frame.data()));
  Event e;
  e.seq = seq;
  e.time = time;
  e.timeText = "2026-12-07T10:22:20+03:00";
  e.kind = EventKind::Message;
  e.address = std::string(message->address.view());
  e.text = MessageText(*message);
  e.message = std::move(message);
  return e;
}

// The real calendar, without the link's fixed waits: a tick costs what it computes.
class NoWaitClock : public SystemClock {
 public:
  void SleepMs(int) override {}
};

class QuietOperator : public Operator {
 public:
  void ShowMessage(const OperatorMessage&) override {}
};

StoredClass Classify(const Event& e) {
  const AlarmClass c = PriorityTable::Defaults().Classify(e);
  const Priority* p = PriorityTable::Defaults().At(c.priority);
  return {p ? p->name : "", static_cast<int>(c.role), c.key};
}

// Events published as fast as the tick's thread can, until the sink's
// thread has written them all: items/s is events written per second.
void BM_StoreWritesOffTheTicksThread(benchmark::State& state) {
  const std::string folder = FreshFolder("pelvaron-bench-writes");
  const std::int64_t burst = state.range(0);
  EventStoreSink sink(folder + "/events.sqlite", Classify, static_cast<std::size_t>(burst) + 16);
  if (!sink.OpenNow()) {
    state.SkipWithError("store not opened");
    return;
  }
  sink.Start();
  std::uint64_t seq = 0;
  std::vector<Event> events;
  for (std::int64_t i = 0; i < burst; ++i) events.push_back(MessageEvent(i + 1, 1'800'000'000 + i, 1 + i % 200, 130));
  for (auto _ : state) {
    for (Event& e : events) {
      e.seq = ++seq;
      sink.Publish(e);
    }
    if (!sink.WaitUntilWritten(600000)) state.SkipWithError("not written");
  }
  state.SetItemsProcessed(state.iterations() * burst);
  state.counters["dropped"] = static_cast<double>(sink.Dropped());
  sink.Stop();
  fs::remove_all(folder);
}
BENCHMARK(BM_StoreWritesOffTheTicksThread)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The million-event store: 200 objects over 100 days, 10,000 events a day.
constexpr int kObjects = 200;
constexpr int kDays = 100;
constexpr std::int64_t kPerDay = 10'000;
constexpr std::int64_t kStart = 1'780'000'000;

std::string MillionStore() {
  const std::string path = BenchDir() + "/pelvaron-bench-store-1M.sqlite";
  {
    // Opened for writing, a store kept from an older program is brought to
    // today's schema (its indexes) before it is measured.
    EventStore store;
    if (fs::exists(path) && store.Open(path, EventStore::Mode::ReadWrite)) {
      if (const Result<std::int64_t> count = store.Count(); count && *count == kDays * kPerDay) return path;
    }
  }
  fs::remove(path);
  fs::remove(path + "-wal");
  fs::remove(path + "-shm");
  EventStore store;
  if (!store.Open(path, EventStore::Mode::ReadWrite)) return {};
  std::mt19937 random(7);
  std::uint64_t seq = 0;
  for (int day = 0; day < kDays; ++day) {
    (void)store.Begin();
    for (std::int64_t i = 0; i < kPerDay; ++i) {
      const std::int64_t time = kStart + day * 86400 + i * 86400 / kPerDay;
      const int address = 1 + static_cast<int>(random() % kObjects);
      static constexpr int kCodes[] = {401, 401, 602, 130, 110, 302};
      Event e = MessageEvent(++seq, time, address, kCodes[random() % 6]);
      (void)store.Insert(e, Classify(e));
    }
    (void)store.Commit();
  }
  return path;
}

void BM_SearchOneObjectOneDay(benchmark::State& state) {
  const std::string path = MillionStore();
  EventStore store;
  if (path.empty() || !store.Open(path, EventStore::Mode::ReadOnly)) {
    state.SkipWithError("no store");
    return;
  }
  std::mt19937 random(11);
  std::size_t rows = 0;
  for (auto _ : state) {
    HistoryQuery q;
    char address[8];
    std::snprintf(address, sizeof address, "%04d", 1 + static_cast<int>(random() % kObjects));
    q.address = address;
    q.from = kStart + static_cast<std::int64_t>(random() % kDays) * 86400;
    q.to = *q.from + 86399;
    const Result<std::vector<StoredEvent>> found = store.Search(q);
    if (found) rows += found->size();
    benchmark::DoNotOptimize(found ? found->data() : nullptr);
  }
  state.counters["rows"] = benchmark::Counter(static_cast<double>(rows) / static_cast<double>(state.iterations()));
  const Result<std::int64_t> count = store.Count();
  state.counters["events"] = static_cast<double>(count ? *count : -1);
}
BENCHMARK(BM_SearchOneObjectOneDay)->Unit(benchmark::kMillisecond)->UseRealTime();

// A console on a scripted port with a message at every tick, its protocol
// file on disk; range(0): 1 with the store and the alarm queue, 0 without.
// Reports the longest and the mean tick.
void BM_LongestTick(benchmark::State& state) {
  const bool withStore = state.range(0) != 0;
  const std::string folder = FreshFolder(withStore ? "pelvaron-bench-tick-on" : "pelvaron-bench-tick-off");
  const fs::path previous = fs::current_path();
  fs::current_path(folder);
  {
    NoWaitClock clock;
    RealFileSystem files;
    QuietOperator op;
    testing::FakeSerialPort port;
    Console console(clock, files, op, port, DeviceMap{});
    std::unique_ptr<EventRecords> records;
    ConsoleHooks hooks;
    if (withStore) {
      EventRecords::Settings settings;
      settings.soundOverride = [] {};
      records = std::make_unique<EventRecords>(files, clock, settings);
      hooks = records->Hooks();
      hooks.beforeStartup(console, op);
    }
    console.Startup();
    std::vector<double> durations;
    double longestAfterTick = 0;  // of which the store's and the queue's own step
    int i = 0;
    for (auto _ : state) {
      sim::ContactIdEvent c;
      c.address = 1 + i % 50;
      c.code = i % 3 == 0 ? 130 : 401;
      c.newEvent = (i / 3) % 2 == 0;
      ++i;
      const sim::Frame frame = sim::ContactIdFrame(c);
      port.answers.clear();
      port.rx.clear();
      port.answers.push_back({0x0A});
      port.answers.push_back({frame.begin(), frame.end()});
      const auto t0 = std::chrono::steady_clock::now();
      console.OnTimer();
      const auto t1 = std::chrono::steady_clock::now();
      if (hooks.afterTick) hooks.afterTick(console);
      longestAfterTick = std::max(longestAfterTick,
                                  std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t1).count());
      durations.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
      // The console ticks every 500 ms; a pause lets the store's thread work between ticks, as it does.
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::sort(durations.begin(), durations.end());
    double total = 0;
    for (double d : durations) total += d;
    state.counters["longest_ms"] = durations.back();
    state.counters["longest_hook_ms"] = longestAfterTick;
    state.counters["p999_ms"] = durations[durations.size() * 999 / 1000];
    state.counters["mean_ms"] = total / static_cast<double>(durations.size());
    console.Shutdown();
    if (hooks.afterShutdown) hooks.afterShutdown(console);
    std::error_code ec;
    state.counters["protocol_kB"] = static_cast<double>(fs::file_size("protocol.txt", ec)) / 1024.0;
  }
  fs::current_path(previous);
  fs::remove_all(folder);
}
BENCHMARK(BM_LongestTick)->Arg(0)->Arg(1)->Iterations(5000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
