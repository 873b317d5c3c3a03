// The console program as a station runs it: pelvaron-headless in a folder of
// its own, on the simulator's pseudo-terminal, ticking every 500 ms. Measures
// the console process from outside: CPU per tick and per hour of monitoring,
// resident memory (also as the systemd service runs it, with libsystemd
// loaded), and the time from a message entering the receiver's queue to its
// last line in the protocol file. A plain program that only sleeps, writes
// "gs" and polls for the answer (plain_station) runs beside the console on a
// receiver of its own, in the same run, as the floor a tick is measured against.
//
// The console is found beside this program (../src/pelvaron-headless in the
// build tree) or at $PELVARON_PROGRAM; plain_station beside this program.
// PELVARON_BENCH_SECONDS (default 60) sets the length of each CPU
// measurement, PELVARON_BENCH_MESSAGES (default 100) the number of messages
// timed.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/cp1251.h"
#include "link/receiver_link.h"
#include "objects/object_table.h"
#include "sim/simulator.h"
#include "station_runner.h"

namespace {

namespace fs = std::filesystem;
using namespace pelvaron;
using namespace pelvaron::bench;
using Clock = pelvaron::bench::Clock;  // not the console's clock port

struct MappingUse {
  long rss = 0, pss = 0, privateKb = 0;
};

// Resident memory by what is mapped (a library's file name, [heap], [anon]...).
std::map<std::string, MappingUse> MemoryByMapping(pid_t pid) {
  std::map<std::string, MappingUse> use;
  std::ifstream in("/proc/" + std::to_string(pid) + "/smaps");
  std::string line, current;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    const bool header = std::isxdigit(static_cast<unsigned char>(line[0])) && line.find('-') < line.find(' ');
    if (header) {
      std::istringstream fields(line);
      std::string range, perms, offset, dev, inode, path;
      fields >> range >> perms >> offset >> dev >> inode;
      std::getline(fields >> std::ws, path);
      current = path.empty() ? "[anon]" : path[0] == '[' ? path : fs::path(path).filename().string();
      continue;
    }
    long kb = 0;
    char key[64];
    if (std::sscanf(line.c_str(), "%63[^:]: %ld kB", key, &kb) != 2) continue;
    if (!std::strcmp(key, "Rss")) use[current].rss += kb;
    if (!std::strcmp(key, "Pss")) use[current].pss += kb;
    if (!std::strcmp(key, "Private_Clean") || !std::strcmp(key, "Private_Dirty"))
      use[current].privateKb += kb;
  }
  return use;
}

// Which part of the program a mapping serves: the program and the C and C++
// runtime, the event store's SQLite, or libsystemd and what it loads (only
// under the service manager).
const char* MappingGroup(const std::string& name) {
  static const char* const runtime[] = {"pelvaron", "libc.so",  "libstdc++", "libm.so",
                                        "libgcc_s", "ld-linux", "["};
  for (const char* p : runtime) {
    if (name.rfind(p, 0) == 0) return "program, C/C++ runtime, heap";
  }
  if (name.rfind("libsqlite3", 0) == 0 || name.rfind("events.sqlite", 0) == 0) return "event store (SQLite)";
  return "libsystemd and what it loads";
}

void PrintMemory(pid_t pid, const char* what) {
  auto use = MemoryByMapping(pid);
  std::vector<std::pair<std::string, MappingUse>> rows(use.begin(), use.end());
  std::sort(rows.begin(), rows.end(), [](auto& a, auto& b) { return a.second.rss > b.second.rss; });
  MappingUse total;
  std::map<std::string, MappingUse> groups;
  std::map<std::string, int> libraries;
  for (auto& [name, u] : rows) {
    total.rss += u.rss;
    total.pss += u.pss;
    total.privateKb += u.privateKb;
    MappingUse& g = groups[MappingGroup(name)];
    g.rss += u.rss;
    g.pss += u.pss;
    g.privateKb += u.privateKb;
    if (name.find(".so") != std::string::npos) ++libraries[MappingGroup(name)];
  }
  std::fprintf(stderr, "\n%s: resident memory of pelvaron-headless by mapping (kB)\n", what);
  std::fprintf(stderr, "  %-36s %8s %8s %8s\n", "mapping", "Rss", "Pss", "Private");
  for (std::size_t i = 0; i < rows.size() && i < 16; ++i) {
    std::fprintf(stderr, "  %-36s %8ld %8ld %8ld\n", rows[i].first.c_str(), rows[i].second.rss,
                 rows[i].second.pss, rows[i].second.privateKb);
  }
  std::fprintf(stderr, "  %-36s %8ld %8ld %8ld\n", "total", total.rss, total.pss, total.privateKb);
  std::fprintf(stderr, "by what it serves:\n");
  for (auto& [name, g] : groups) {
    std::fprintf(stderr, "  %-36s %8ld %8ld %8ld  (%d shared objects)\n", name.c_str(), g.rss, g.pss,
                 g.privateKb, libraries[name]);
  }
}

// A station's objects: 50 registered, some of them the loop units below.
std::string ObjectsImage() {
  ObjectTable table{};
  auto put = [](char* field, std::size_t size, const std::string& utf8) {
    std::string bytes = Utf8ToCp1251Lossy(utf8).substr(0, size - 1);
    std::memcpy(field, bytes.c_str(), bytes.size() + 1);
  };
  for (int slot = 1; slot <= kLastObjectSlot; ++slot) {
    ObjectRecord& r = table[slot];
    put(r.szAddress, sizeof r.szAddress, "    ");
    put(r.szComment, sizeof r.szComment, " ");
    put(r.szLoop1Type, sizeof r.szLoop1Type, "Не определён");
    put(r.szLoop2Type, sizeof r.szLoop2Type, "Не определён");
    if (slot > 50) continue;
    char address[8];
    std::snprintf(address, sizeof address, "%04d", slot == 1 ? 12 : slot * 7);
    put(r.szAddress, sizeof r.szAddress, address);
    put(r.szComment, sizeof r.szComment, "Объект " + std::string(address));
    r.bUsed = 1;
    r.bControl = 1;
    r.nPeriod = 120;
    r.bRegistered = 1;
  }
  std::string bytes(kObjectsFileSize, '\0');
  std::memcpy(bytes.data(), table.data(), bytes.size());
  return bytes;
}

// What runs on the simulator's device: the console, or the plain program.
enum class Program { kConsole, kPlain };

// pelvaron-headless with a station's objects, or plain_station beside it.
StationSetup Setup(Program kind = Program::kConsole, std::vector<std::string> env = {},
                   sim::SimulatorOptions options = {}) {
  StationSetup setup;
  setup.plain = kind == Program::kPlain;
  setup.program = setup.plain ? Beside("plain_station") : ProgramBeside("../src/pelvaron-headless");
  if (!setup.plain) setup.objects = ObjectsImage();
  setup.env = std::move(env);
  setup.simulator = std::move(options);
  setup.folder = "pelvaron-bench-console";
  return setup;
}

enum class Receiver { kMessageEveryTick, kNoMessages, kSilent };

// What one program used over the measured time.
struct CpuUse {
  double cpu = 0, statCpu = 0, wall = 0;
  std::size_t statusRequests = 0, messages = 0;
};

class CpuMeter {
 public:
  explicit CpuMeter(Station& station)
      : station_(station),
        gs0_(station.CountRequests("gs")),
        gn0_(station.CountRequests("gn")),
        cpu0_(ProcessCpuSeconds(station.pid())),
        statCpu0_(ProcessCpuSecondsFromStat(station.pid())),
        t0_(Clock::now()) {}
  CpuUse Read() const {
    return {ProcessCpuSeconds(station_.pid()) - cpu0_, ProcessCpuSecondsFromStat(station_.pid()) - statCpu0_,
            MsSince(t0_) / 1000, station_.CountRequests("gs") - gs0_, station_.CountRequests("gn") - gn0_};
  }

 private:
  Station& station_;
  std::size_t gs0_, gn0_;
  double cpu0_, statCpu0_;
  Clock::time_point t0_;
};

void Prepare(Station& station, Receiver receiver, double seconds) {
  if (receiver == Receiver::kMessageEveryTick) {
    // More than the ticks of the run: every status byte says a message waits.
    const int count = std::min(1000, static_cast<int>(seconds * 2.5) + 20);
    for (int i = 0; i < count; ++i) station.simulator().Enqueue(MessageNumber(i));
  } else if (receiver == Receiver::kSilent) {
    station.simulator().Apply("silence 1000min");
  }
}

void Report(benchmark::State& state, const std::string& prefix, const CpuUse& use) {
  state.counters[prefix + "cpu_s_per_hour"] = use.cpu / use.wall * 3600;
  state.counters[prefix + "cpu_s_per_hour_stat"] = use.statCpu / use.wall * 3600;
  state.counters[prefix + "cpu_pct_of_core"] = 100 * use.cpu / use.wall;
  state.counters[prefix + "status_requests"] = static_cast<double>(use.statusRequests);
  if (use.statusRequests > 0) {
    state.counters[prefix + "cpu_ms_per_tick"] = 1000 * use.cpu / static_cast<double>(use.statusRequests);
  }
}

// When a program's receiver last heard "gs" (its tick), for the phase of the
// two programs' ticks.
struct TickSeen {
  std::atomic<std::int64_t> ns{0};
  sim::SimulatorOptions Options() {
    sim::SimulatorOptions options;
    options.onTrace = [this](const std::string& line) {
      if (line.rfind("gs", 0) == 0) ns = Clock::now().time_since_epoch() / std::chrono::nanoseconds(1);
    };
    return options;
  }
};

constexpr std::int64_t kTickNs = 500'000'000;

// Waits until half a tick after one of the program's ticks. A program whose
// tick follows another's within a few milliseconds finds the kernel's code
// and data that tick has just used still in the caches, and on a quiet
// machine takes some 25 % less CPU: two identical plain programs started one
// after the other differ by that much. Half a tick apart, each wakes cold, as
// a station's only console does.
void WaitForHalfATickAfter(const TickSeen& seen) {
  if (seen.ns == 0) return;  // no tick heard: nothing to keep apart from
  const std::int64_t now = Clock::now().time_since_epoch() / std::chrono::nanoseconds(1);
  std::int64_t at = seen.ns + kTickNs / 2;
  while (at < now + 20'000'000) at += kTickNs;
  std::this_thread::sleep_for(std::chrono::nanoseconds(at - now));
}

// CPU of the console over PELVARON_BENCH_SECONDS, scaled to an hour, with the
// plain program beside it on a receiver of its own that behaves the same,
// ticking half a tick after it.
void MeasureCpu(benchmark::State& state, Receiver receiver) {
  const double seconds = EnvNumber("PELVARON_BENCH_SECONDS", 60);
  for (auto _ : state) {
    TickSeen consoleTicks, plainTicks;
    Station station(state, Setup(Program::kConsole, {}, consoleTicks.Options()));
    if (!station.ok()) break;
    WaitForHalfATickAfter(consoleTicks);
    Station plain(state, Setup(Program::kPlain, {}, plainTicks.Options()));
    if (!plain.ok()) break;
    // Where the plain program's tick came, in milliseconds after the console's.
    const std::int64_t apart = ((plainTicks.ns - consoleTicks.ns) % kTickNs + kTickNs) % kTickNs;
    state.counters["plain_tick_after_ms"] = static_cast<double>(apart) / 1e6;
    const double startupCpu = ProcessCpuSeconds(station.pid());
    Prepare(station, receiver, seconds);
    Prepare(plain, receiver == Receiver::kMessageEveryTick ? Receiver::kNoMessages : receiver, seconds);
    std::this_thread::sleep_for(std::chrono::seconds(2));  // past the first ticks' work
    CpuMeter console(station), floor(plain);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const CpuUse use = console.Read(), plainUse = floor.Read();
    state.SetIterationTime(use.wall);
    Report(state, "", use);
    Report(state, "plain_", plainUse);
    if (use.statusRequests > 0 && plainUse.statusRequests > 0 && plainUse.cpu > 0) {
      state.counters["tick_cpu_vs_plain"] = (use.cpu / static_cast<double>(use.statusRequests)) /
                                            (plainUse.cpu / static_cast<double>(plainUse.statusRequests));
    }
    state.counters["messages"] = static_cast<double>(use.messages);
    state.counters["startup_cpu_ms"] = 1000 * startupCpu;
    state.counters["link_up_ms"] = station.linkUpMs();
    state.counters["VmRSS_kB"] = static_cast<double>(StatusKb(station.pid(), "VmRSS"));
    state.counters["VmHWM_kB"] = static_cast<double>(StatusKb(station.pid(), "VmHWM"));
    state.counters["plain_VmRSS_kB"] = static_cast<double>(StatusKb(plain.pid(), "VmRSS"));
    if (receiver == Receiver::kMessageEveryTick) PrintMemory(station.pid(), "after the busy run");
  }
}

void BM_ConsoleCpuMessageEveryTick(benchmark::State& state) {
  MeasureCpu(state, Receiver::kMessageEveryTick);
}
void BM_ConsoleCpuNoMessages(benchmark::State& state) {
  MeasureCpu(state, Receiver::kNoMessages);
}
void BM_ConsoleCpuSilentReceiver(benchmark::State& state) {
  MeasureCpu(state, Receiver::kSilent);
}

// Resident memory as the systemd unit runs it: NOTIFY_SOCKET and a watchdog
// make the console load libsystemd and ping from its tick.
void BM_ConsoleMemoryAsAService(benchmark::State& state) {
  const double seconds = std::min(20.0, EnvNumber("PELVARON_BENCH_SECONDS", 60));
  for (auto _ : state) {
    char dir[] = "/tmp/pelvaron-bench-notify-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    const std::string path = std::string(dir) + "/notify";
    int listener = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    {
      Station station(state, Setup(Program::kConsole, {"NOTIFY_SOCKET=" + path, "WATCHDOG_USEC=30000000"}));
      if (!station.ok()) break;
      Station plain(state, Setup(Program::kPlain));
      if (!plain.ok()) break;
      std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
      int datagrams = 0;
      char buffer[256];
      while (recv(listener, buffer, sizeof buffer, MSG_DONTWAIT) > 0) ++datagrams;
      state.SetIterationTime(seconds);
      state.counters["VmRSS_kB"] = static_cast<double>(StatusKb(station.pid(), "VmRSS"));
      state.counters["VmHWM_kB"] = static_cast<double>(StatusKb(station.pid(), "VmHWM"));
      state.counters["plain_VmRSS_kB"] = static_cast<double>(StatusKb(plain.pid(), "VmRSS"));
      state.counters["notifications"] = datagrams;
      PrintMemory(station.pid(), "as a service (libsystemd loaded)");
    }
    close(listener);
    fs::remove_all(dir);
  }
}

// From Enqueue into the simulator's queue to the message's last line in the
// protocol file. Each message waits a random 0..500 ms after the one before,
// so it meets the tick at a random phase. The simulator's trace tells when the
// tick that fetches it asked for the status, which splits the time into the
// wait for that tick and the tick's own work.
void BM_MessageToProtocolLatency(benchmark::State& state) {
  const int messages = static_cast<int>(EnvNumber("PELVARON_BENCH_MESSAGES", 100));
  for (auto _ : state) {
    std::mutex mutex;
    std::vector<Clock::time_point> messageTicks;  // "gs" answered with a message waiting
    sim::SimulatorOptions options;
    options.onTrace = [&](const std::string& line) {
      unsigned status = 0;
      if (std::sscanf(line.c_str(), "gs -> %x", &status) == 1 && (status & 0x02)) {
        std::lock_guard lock(mutex);
        messageTicks.push_back(Clock::now());
      }
    };
    Station station(state, Setup(Program::kConsole, {}, std::move(options)));
    if (!station.ok()) break;
    std::mt19937 random(1);
    std::uniform_int_distribution<int> pauseMs(0, 499);
    std::vector<double> total, waited, handled;
    const auto start = Clock::now();
    for (int i = 0; i < messages; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs(random)));
      Clock::time_point t0;
      const auto seen = SendToProtocol(station, 1 + i % 999, t0);
      if (!seen) {
        state.SkipWithError("a message did not reach the protocol file within 10 s");
        break;
      }
      total.push_back(MsSince(t0, *seen));
      std::lock_guard lock(mutex);
      auto tick = std::find_if(messageTicks.begin(), messageTicks.end(), [&](auto t) { return t >= t0; });
      if (tick != messageTicks.end() && *tick <= *seen) {
        waited.push_back(MsSince(t0, *tick));
        handled.push_back(MsSince(*tick, *seen));
      }
    }
    state.SetIterationTime(MsSince(start) / 1000);
    if (total.empty() || handled.empty()) break;
    // What the protocol itself takes: the wait for the next tick (0..500 ms),
    // "gs" (its byte, then the 10 ms interval: 4 bytes were asked for) and
    // "gn" (the fixed 100 ms, then the interval: 20 were asked for, 10 came).
    const double byteMs = sim::ReceiverModel::kByteTimeUs / 1000.0;
    const double intervalMs = kReceiverTimeouts.ReadIntervalTimeout;
    const double exchangeMs = (byteMs + intervalMs) + (kNewMessageWaitMs + intervalMs);
    state.counters["messages"] = static_cast<double>(total.size());
    state.counters["p50_ms"] = Percentile(total, 50);
    state.counters["p99_ms"] = Percentile(total, 99);
    state.counters["min_ms"] = Percentile(total, 0);
    state.counters["max_ms"] = Percentile(total, 100);
    state.counters["mean_ms"] = Mean(total);
    state.counters["floor_mean_ms"] = 250 + exchangeMs;
    state.counters["floor_p99_ms"] = 0.99 * 500 + exchangeMs;
    state.counters["tick_wait_mean_ms"] = Mean(waited);
    state.counters["tick_work_p50_ms"] = Percentile(handled, 50);
    state.counters["tick_work_p99_ms"] = Percentile(handled, 99);
    state.counters["tick_work_floor_ms"] = exchangeMs;
  }
}

}  // namespace

BENCHMARK(BM_ConsoleCpuMessageEveryTick)->Iterations(1)->Unit(benchmark::kSecond)->UseManualTime();
BENCHMARK(BM_ConsoleCpuNoMessages)->Iterations(1)->Unit(benchmark::kSecond)->UseManualTime();
BENCHMARK(BM_ConsoleCpuSilentReceiver)->Iterations(1)->Unit(benchmark::kSecond)->UseManualTime();
BENCHMARK(BM_ConsoleMemoryAsAService)->Iterations(1)->Unit(benchmark::kSecond)->UseManualTime();
BENCHMARK(BM_MessageToProtocolLatency)->Iterations(1)->Unit(benchmark::kSecond)->UseManualTime();

BENCHMARK_MAIN();
