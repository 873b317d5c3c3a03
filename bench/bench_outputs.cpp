// The console's outputs as a station runs them: `pelvaron --headless` with
// --mqtt against a broker of the benchmark's own (the mosquitto program on a
// free port), on the simulator's pseudo-terminal, ticking every 500 ms.
// Measures the time from a message entering the receiver's queue to its last
// line in the protocol file and to its event on the broker, and the console's
// CPU per hour with a message at every tick, with and without the broker.
//
// The console is found beside this program (../src/pelvaron in the build
// tree) or at $PELVARON_PROGRAM. PELVARON_BENCH_SECONDS (default 60) sets the
// length of each CPU measurement, PELVARON_BENCH_MESSAGES (default 100) the
// number of messages timed.
#include <benchmark/benchmark.h>
#include <mosquitto.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "station_runner.h"
#include "support/mqtt/test_broker.h"

namespace {

using namespace pelvaron;
using namespace pelvaron::bench;
using Clock = pelvaron::bench::Clock;  // not the console's clock port

// The events on the broker, each with the moment it arrived here.
class EventWatch {
 public:
  explicit EventWatch(int port) {
    mosquitto_lib_init();
    client_ = mosquitto_new("bench-watch", true, this);
    mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(client_, [](mosquitto* m, void*, int rc) {
      if (rc == 0) mosquitto_subscribe(m, nullptr, "pelvaron/bench/event", 1);
    });
    mosquitto_message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* m) {
      auto* w = static_cast<EventWatch*>(self);
      std::lock_guard lock(w->mutex_);
      w->events_.push_back({Clock::now(), std::string(static_cast<const char*>(m->payload),
                                                      static_cast<std::size_t>(m->payloadlen))});
    });
    mosquitto_connect(client_, "127.0.0.1", port, 30);
    mosquitto_loop_start(client_);
  }
  ~EventWatch() {
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, true);
    mosquitto_destroy(client_);
  }
  // When an event holding text arrived after from; nothing by the deadline.
  std::optional<Clock::time_point> WaitFor(const std::string& text, Clock::time_point from,
                                           Clock::time_point deadline) {
    while (Clock::now() < deadline) {
      {
        std::lock_guard lock(mutex_);
        for (const auto& [at, payload] : events_) {
          if (at >= from && payload.find(text) != std::string::npos) return at;
        }
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return std::nullopt;
  }
  std::size_t Count() {
    std::lock_guard lock(mutex_);
    return events_.size();
  }

 private:
  mosquitto* client_ = nullptr;
  std::mutex mutex_;
  std::vector<std::pair<Clock::time_point, std::string>> events_;
};

// `pelvaron --headless` on the simulator, with the broker's options when a
// broker is given; its event log lines go nowhere.
StationSetup Headless(const testing::TestBroker* broker) {
  StationSetup setup;
  setup.program = ProgramBeside("../src/pelvaron");
  setup.args = {"--headless"};
  if (broker) setup.args.insert(setup.args.end(), {"--mqtt", broker->Url(), "--station", "bench"});
  setup.discardStdout = true;
  setup.folder = "pelvaron-bench-outputs";
  return setup;
}

bool StartBroker(benchmark::State& state, testing::TestBroker& broker) {
  std::string error;
  if (!testing::TestBroker::Available() || !broker.Start(&error)) {
    state.SkipWithError(("no broker: " + error).c_str());
    return false;
  }
  return true;
}

// From Enqueue into the simulator's queue to the message's last line in the
// protocol file, and to its event on the broker (as a subscriber in this
// process receives it). Each message waits a random 0..500 ms after the one
// before, so it meets the tick at a random phase.
void BM_MessageToBrokerLatency(benchmark::State& state) {
  const int messages = static_cast<int>(EnvNumber("PELVARON_BENCH_MESSAGES", 100));
  for (auto _ : state) {
    testing::TestBroker broker(false);
    if (!StartBroker(state, broker)) break;
    EventWatch events(broker.Port());
    Station station(state, Headless(&broker));
    if (!station.ok()) break;
    std::mt19937 random(1);
    std::uniform_int_distribution<int> pauseMs(0, 499);
    std::vector<double> toProtocol, toBroker, after;
    const auto start = Clock::now();
    for (int i = 0; i < messages; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs(random)));
      const int zone = 1 + i % 999;
      char member[32];
      std::snprintf(member, sizeof member, "\"zone\":\"%03d\"", zone);
      Clock::time_point t0;
      const auto line = SendToProtocol(station, zone, t0);
      auto event = events.WaitFor(member, t0, t0 + std::chrono::seconds(10));
      if (!line || !event) {
        state.SkipWithError("a message did not reach the protocol file or the broker within 10 s");
        break;
      }
      toProtocol.push_back(MsSince(t0, *line));
      toBroker.push_back(MsSince(t0, *event));
      after.push_back(MsSince(*line, *event));
    }
    state.SetIterationTime(MsSince(start) / 1000);
    state.counters["messages"] = static_cast<double>(toBroker.size());
    state.counters["protocol_p50_ms"] = Percentile(toProtocol, 50);
    state.counters["protocol_p99_ms"] = Percentile(toProtocol, 99);
    state.counters["broker_p50_ms"] = Percentile(toBroker, 50);
    state.counters["broker_p99_ms"] = Percentile(toBroker, 99);
    state.counters["broker_after_line_p50_ms"] = Percentile(after, 50);
    state.counters["broker_after_line_p99_ms"] = Percentile(after, 99);
    state.counters["broker_after_line_max_ms"] = Percentile(after, 100);
  }
}

// CPU of the console process (every thread) over PELVARON_BENCH_SECONDS with
// a message at every tick, scaled to an hour; /0 without outputs, /1 with
// the broker.
void BM_ConsoleCpuMessageEveryTick(benchmark::State& state) {
  const double seconds = EnvNumber("PELVARON_BENCH_SECONDS", 60);
  const bool mqtt = state.range(0) != 0;
  for (auto _ : state) {
    testing::TestBroker broker(false);
    if (mqtt && !StartBroker(state, broker)) break;
    std::optional<EventWatch> events;
    if (mqtt) events.emplace(broker.Port());
    Station station(state, Headless(mqtt ? &broker : nullptr));
    if (!station.ok()) break;
    const int count = std::min(1000, static_cast<int>(seconds * 2.5) + 20);
    for (int i = 0; i < count; ++i) station.simulator().Enqueue(MessageNumber(i));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const std::size_t events0 = events ? events->Count() : 0;
    const double cpu0 = ProcessCpuSeconds(station.pid());
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double cpu = ProcessCpuSeconds(station.pid()) - cpu0;
    const double wall = MsSince(t0) / 1000;
    state.SetIterationTime(wall);
    state.counters["cpu_s_per_hour"] = cpu / wall * 3600;
    state.counters["cpu_pct_of_core"] = 100 * cpu / wall;
    state.counters["events_on_broker"] = static_cast<double>(events ? events->Count() - events0 : 0);
    state.counters["VmRSS_kB"] = static_cast<double>(StatusKb(station.pid(), "VmRSS"));
    state.counters["threads"] = static_cast<double>(StatusKb(station.pid(), "Threads"));
  }
}

}  // namespace

BENCHMARK(BM_MessageToBrokerLatency)->Iterations(1)->Unit(benchmark::kSecond)->UseManualTime();
BENCHMARK(BM_ConsoleCpuMessageEveryTick)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseManualTime();

BENCHMARK_MAIN();
