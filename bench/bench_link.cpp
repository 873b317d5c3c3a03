// The receiver link against the simulator over a real pseudo-terminal: how
// long each exchange takes beyond the line time and the fixed waits, and what
// the polling loop costs in CPU, on the POSIX serial port adapter.
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "app/apply_message.h"
#include "link/receiver_link.h"
#include "objects/object_registry.h"
#include "platform/posix_serial_port.h"
#include "platform/real_file_system.h"
#include "platform/system_clock.h"
#include "protocol/event_protocol.h"
#include "sim/simulator.h"

namespace {

using namespace pelvaron;

class QuietOperator : public Operator {
 public:
  void ShowMessage(const OperatorMessage&) override { ++messages; }
  int messages = 0;
};

constexpr double kByteMs = sim::ReceiverModel::kByteTimeUs / 1000.0;
constexpr double kIntervalMs = kReceiverTimeouts.ReadIntervalTimeout;

// The simulator, the real port and the link, as the console has them.
struct Rig {
  Rig() {
    std::string error;
    simulator = sim::Simulator::OnNewPty({}, &error);
    if (!simulator) {
      std::fprintf(stderr, "simulator: %s\n", error.c_str());
      std::abort();
    }
    simulator->Start();
    devices.Add("COM1=" + simulator->DevicePath());
    link = std::make_unique<ReceiverLink>(port, clock, op, settings, devices);
    if (link->OpenComPort() != 0) std::abort();
  }
  ~Rig() {
    link->CloseComPort();
    simulator->Stop();
  }
  std::unique_ptr<sim::Simulator> simulator;
  ConsoleSettings settings = ConsoleSettings::Defaults();
  SystemClock clock;
  QuietOperator op;
  DeviceMap devices;
  PosixSerialPort port;
  std::unique_ptr<ReceiverLink> link;
};

double NowMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Runs one exchange per iteration and reports how far it is above the time it
// cannot help taking: the fixed wait, the answer's bytes on the line when they
// come after the wait, and the 10 ms interval that ends a read asked for more
// bytes than the answer has.
template <typename Exchange>
void MeasureOverhead(benchmark::State& state, double idealMs, Exchange exchange,
                     void (*setUp)(Rig&) = nullptr) {
  Rig rig;
  if (setUp) setUp(rig);
  double total = 0, worst = 0;
  for (auto _ : state) {
    double t0 = NowMs();
    exchange(rig);
    double over = NowMs() - t0 - idealMs;
    total += over;
    if (over > worst) worst = over;
  }
  state.counters["ideal_ms"] = idealMs;
  state.counters["overhead_ms"] = total / static_cast<double>(state.iterations());
  state.counters["worst_overhead_ms"] = worst;
}

const sim::Frame kFrame = sim::ContactIdFrame({1234, 31, false, 1, 130, 1});

void BM_StatusRequest(benchmark::State& state) {
  // One byte after one byte time, then the interval (4 bytes were asked for).
  MeasureOverhead(state, kByteMs + kIntervalMs, [](Rig& rig) {
    std::uint8_t status;
    if (rig.link->RequestStatus(status) != 0) std::abort();
  });
}

void BM_NewMessage(benchmark::State& state) {
  // The 10 bytes are in during the 100 ms wait; 20 were asked for: the interval.
  MeasureOverhead(state, kNewMessageWaitMs + kIntervalMs, [](Rig& rig) {
    rig.simulator->Enqueue(kFrame);
    if (rig.link->GetNewMessage([](const std::uint8_t*) { return 0; }) != 0) std::abort();
  });
}

void BM_CurrentMessage(benchmark::State& state) {
  MeasureOverhead(
      state, kCurrentMessageWaitMs + kIntervalMs,
      [](Rig& rig) {
        if (rig.link->GetCurrentMessage([](const std::uint8_t*) { return 0; }) != 0) std::abort();
      },
      [](Rig& rig) {
        // A current message to send again.
        rig.simulator->Enqueue(kFrame);
        if (rig.link->GetNewMessage([](const std::uint8_t*) { return 0; }) != 0) std::abort();
      });
}

void BM_ReadParameters(benchmark::State& state) {
  // 8 bytes asked for, 8 come during the wait: the read ends at once.
  MeasureOverhead(state, kParameterWaitMs, [](Rig& rig) {
    ParameterBlock block;
    if (rig.link->ReadParameters(block) != 0) std::abort();
  });
}

void BM_WriteParameters(benchmark::State& state) {
  MeasureOverhead(state, 2.0 * kParameterWaitMs, [](Rig& rig) {
    if (rig.link->WriteParameters(ParameterBlock{{0x03, 0x11, 0x03, 0x04, 0x80}}) != 0) std::abort();
  });
}

double CpuSeconds(int who) {
  rusage u{};
  getrusage(who, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The console's tick without its window: a status request every 500 ms and a
// message fetched and decoded each time (into the event log and a protocol
// file), for PELVARON_BENCH_SECONDS (default 20) seconds.
void BM_PollingLoopCpu(benchmark::State& state) {
  const char* env = std::getenv("PELVARON_BENCH_SECONDS");
  const double seconds = env ? std::atof(env) : 20.0;
  char dir[] = "/tmp/pelvaron-bench-XXXXXX";
  if (!mkdtemp(dir) || chdir(dir) != 0) std::abort();

  Rig rig;
  RealFileSystem files;
  EventProtocol protocol(rig.settings, rig.clock, files, rig.op);
  ObjectRegistry objects(files, rig.op);
  objects.InitObjects();
  const sim::Frame frames[] = {
      sim::ContactIdFrame({1234, 31, true, 1, 130, 5}),
      sim::LoopStateFrame({.address = 12, .kind = 2, .armed1 = true, .linked1 = true, .guard = 3}),
      sim::DiallerFrame({4660, 0x00}),
      sim::RadioFrame({.address = 8001, .eventCode = 0x10, .source = 5, .detail = 0x05, .expander = 3}),
  };
  int decoded = 0, ticks = 0;
  auto sink = [&](const std::uint8_t* buffer) {
    ++decoded;
    return DecodeFrame(buffer, protocol, rig.op, objects);
  };

  for (auto _ : state) {
    const double start = NowMs();
    const double threadCpu0 = CpuSeconds(RUSAGE_THREAD), processCpu0 = CpuSeconds(RUSAGE_SELF);
    for (double next = start; next < start + seconds * 1000; next += 500) {
      double left = next - NowMs();
      if (left > 0) rig.clock.SleepMs(static_cast<int>(left));
      rig.simulator->Enqueue(frames[ticks % 4]);
      ++ticks;
      std::uint8_t status = 0;
      if (rig.link->RequestStatus(status) == 0 && (status & STATUS_NEW_MESSAGE) && !(status & STATUS_HOLD)) {
        rig.link->PollMessages(sink);
      }
    }
    const double wall = (NowMs() - start) / 1000;
    state.counters["link_thread_cpu_pct"] = 100 * (CpuSeconds(RUSAGE_THREAD) - threadCpu0) / wall;
    state.counters["process_cpu_pct"] = 100 * (CpuSeconds(RUSAGE_SELF) - processCpu0) / wall;
    state.counters["ticks"] = ticks;
    state.counters["frames_decoded"] = decoded;
    state.counters["boxes"] = rig.op.messages;
  }
  if (chdir("/") == 0) {
    std::string cleanup = std::string("rm -rf ") + dir;
    [[maybe_unused]] int rc = std::system(cleanup.c_str());
  }
}

}  // namespace

BENCHMARK(BM_StatusRequest)->Iterations(50)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NewMessage)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CurrentMessage)->Iterations(30)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadParameters)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteParameters)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PollingLoopCpu)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

BENCHMARK_MAIN();
