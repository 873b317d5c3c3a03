// The shift report end to end as pelvaron-report makes it: the stores read
// (the query), the figures computed and the HTML page written, over a store
// of a million events. The store is seeded once into a file under /tmp and
// reused by later runs (remove it to seed again): 205,000 alarms of four
// events each (the alarm, its acknowledgement, one action, its close; one in
// ten never closed) over 30 days on 500 objects, 205,000 openings and
// closings (Contact ID 401, information: in the store, no alarm), and the
// link's and the line's downtime, objects overdue and operators' shifts.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>

#include "alarms/priority_table.h"
#include "decode/decoded_message.h"
#include "reports/query/report_query.h"
#include "reports/report_formats.h"
#include "sim/frames.h"
#include "store/event_store.h"

namespace {

using namespace pelvaron;

constexpr char kStore[] = "/tmp/pelvaron-bench-report-1m.sqlite";
constexpr std::int64_t kFrom = 1796590800;  // 07.12.2026 00:00 in Moscow
constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kAlarms = 205'000;
constexpr std::int64_t kOpenings = 205'000;

bool Seeded() {
  EventStore store;
  if (access(kStore, F_OK) != 0 || !store.Open(kStore, EventStore::Mode::ReadOnly)) return false;
  const Result<std::int64_t> count = store.Count();
  return count && *count >= 1'000'000;
}

void Seed() {
  std::remove(kStore);
  EventStore store;
  if (!store.Open(kStore, EventStore::Mode::ReadWrite) || !store.Begin()) std::abort();
  std::mt19937 random(1);
  const auto between = [&](std::int64_t low, std::int64_t high) {
    return std::uniform_int_distribution<std::int64_t>(low, high)(random);
  };
  const char* priorities[] = {"fire", "panic", "burglary", "tamper", "trouble", "supervision"};
  const char* outcomes[] = {"real", "false-equipment", "false-user", "test", "cancelled", "other"};
  const char* operators[] = {"Иванова", "Петров", "Сидорова"};
  std::uint64_t seq = 0;
  const auto put = [&](std::int64_t time, EventKind kind, std::string address, std::uint64_t ref,
                       const StoredClass& cls, std::string command = {}, std::string who = {}) {
    Event e;
    e.seq = ++seq;
    e.time = time;
    e.timeText = "t";
    e.station = "Пульт";
    e.kind = kind;
    e.address = std::move(address);
    e.text = "Охранная тревога";
    e.ref = ref;
    e.command = std::move(command);
    e.operatorName = std::move(who);
    if (!store.Insert(e, cls)) std::abort();
    return e.seq;
  };
  const std::int64_t span = 30 * kDay;
  const std::int64_t steps = kAlarms + kOpenings;
  for (std::int64_t i = 0; i < steps; ++i) {
    const std::int64_t t = kFrom + i * span / steps;
    char address[8];
    std::snprintf(address, sizeof address, "%04lld", static_cast<long long>(between(1, 500)));
    if (i % 2 == 1) {
      sim::ContactIdEvent cid;
      cid.address = std::atoi(address);
      cid.code = 401;
      cid.newEvent = (i / 2) % 2 == 0;
      cid.zone = 3;
      const auto frame = sim::ContactIdFrame(cid);
      Event e;
      e.seq = ++seq;
      e.time = t;
      e.timeText = "t";
      e.station = "Пульт";
      e.address = address;
      e.text = "Снятие пользователем";
      e.message = std::make_shared<DecodedMessage>(DecodeMessage(frame.data()));
      if (!store.Insert(e, {"information", cid.newEvent ? 1 : 2, "cid401"})) std::abort();
      continue;
    }
    const std::string key = "k" + std::to_string(i);
    const std::uint64_t id = put(t, EventKind::Message, address, 0, {priorities[between(0, 5)], 1, key});
    const std::string who = operators[between(0, 2)];
    const std::int64_t ack = t + between(2, 120);
    put(ack, EventKind::AlarmAcknowledged, address, id, {}, {}, who);
    put(ack + 10, EventKind::AlarmAction, address, id, {}, "key-holder-called", who);
    if (i % 20 != 0) put(ack + between(10, 600), EventKind::AlarmClosed, address, id, {}, outcomes[between(0, 5)], who);
  }
  for (std::int64_t day = 0; day < 30; ++day) {
    const std::int64_t d = kFrom + day * kDay;
    put(d + 3600, EventKind::LinkLost, {}, 0, {});
    put(d + 3700, EventKind::LinkRestored, {}, 0, {});
    put(d + 7200, EventKind::LineFault, {}, 0, {});
    put(d + 7300, EventKind::LineRestored, {}, 0, {});
    for (int k = 0; k < 30; ++k) {
      char address[8];
      std::snprintf(address, sizeof address, "%04d", static_cast<int>(between(1, 500)));
      put(d + 1000 * k, EventKind::ObjectOverdue, address, 0, {});
      put(d + 1000 * k + 500, EventKind::ObjectBackInControl, address, 0, {});
    }
    put(d + 8 * 3600, EventKind::OperatorSignedIn, {}, 0, {}, {}, operators[day % 3]);
    put(d + 20 * 3600, EventKind::OperatorSignedOut, {}, 0, {}, {}, operators[day % 3]);
  }
  if (!store.Commit()) std::abort();
}

void Prepare() {
  static const bool ready = [] {
    setenv("TZ", "Europe/Moscow", 1);
    tzset();
    if (!Seeded()) Seed();
    return true;
  }();
  (void)ready;
}

// range(0): the hours the report covers, up to the store's last day's end.
void BM_ShiftReportFromStore(benchmark::State& state) {
  Prepare();
  ReportQuery q;
  q.to = kFrom + 30 * kDay - 1;
  q.from = q.to - state.range(0) * 3600 + 1;
  q.eventStore = kStore;
  q.stationStore = "/nonexistent/station.sqlite";
  std::size_t alarms = 0, bytes = 0;
  for (auto _ : state) {
    Result<ReportLoad> loaded = LoadReportData(q, PriorityTable::Defaults());
    if (!loaded) {
      state.SkipWithError(loaded.problem().cause.c_str());
      return;
    }
    const std::string page = RenderReport(loaded->data, ReportKind::Shift, ReportFormat::Html);
    alarms = loaded->data.alarms.size();
    bytes = page.size();
    benchmark::DoNotOptimize(page.data());
  }
  state.counters["alarms"] = static_cast<double>(alarms);
  state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_ShiftReportFromStore)->Arg(12)->Arg(30 * 24)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
