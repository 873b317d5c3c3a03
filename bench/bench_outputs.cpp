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
#include <fcntl.h>
#include <mosquitto.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/cp1251.h"
#include "sim/simulator.h"
#include "support/mqtt/test_broker.h"

namespace {

namespace fs = std::filesystem;
using namespace pelvaron;
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t0, Clock::time_point t1 = Clock::now()) {
  return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

double EnvNumber(const char* name, double fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atof(v) : fallback;
}

std::string ConsoleProgram() {
  if (const char* v = std::getenv("PELVARON_PROGRAM"); v && *v) return v;
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? "" : (self.parent_path().parent_path() / "src" / "pelvaron").string();
}

double ProcessCpuSeconds(pid_t pid) {
  double total = 0;
  std::error_code ec;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    std::ifstream in(task.path() / "schedstat");
    unsigned long long runNs = 0;
    if (in >> runNs) total += static_cast<double>(runNs) / 1e9;
  }
  return total;
}

long StatusKb(pid_t pid, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key + ":", 0) == 0) return std::atol(line.c_str() + key.size() + 1);
  }
  return -1;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const double rank = p / 100 * static_cast<double>(v.size() - 1);
  const auto lo = static_cast<std::size_t>(rank);
  const std::size_t hi = std::min(lo + 1, v.size() - 1);
  return v[lo] + (v[hi] - v[lo]) * (rank - static_cast<double>(lo));
}

// Appends to the protocol file, seen through inotify.
class ProtocolWatch {
 public:
  explicit ProtocolWatch(fs::path path) : path_(std::move(path)) {
    fd_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (fd_ >= 0) inotify_add_watch(fd_, path_.c_str(), IN_MODIFY);
  }
  ~ProtocolWatch() {
    if (fd_ >= 0) close(fd_);
  }
  std::optional<Clock::time_point> WaitFor(const std::string& bytes, Clock::time_point deadline) {
    for (;;) {
      std::ifstream in(path_, std::ios::binary);
      in.seekg(static_cast<std::streamoff>(offset_));
      std::stringstream fresh;
      fresh << in.rdbuf();
      const auto seen = Clock::now();
      pending_ += fresh.str();
      offset_ += fresh.str().size();
      if (auto at = pending_.find(bytes); at != std::string::npos) {
        pending_.erase(0, at + bytes.size());
        return seen;
      }
      if (pending_.size() > bytes.size()) pending_.erase(0, pending_.size() - bytes.size());
      const double left = MsSince(Clock::now(), deadline);
      if (left <= 0) return std::nullopt;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(std::min(left, 50.0)) + 1) > 0) {
        char buffer[4096];
        while (read(fd_, buffer, sizeof buffer) > 0) {
        }
      }
    }
  }

 private:
  fs::path path_;
  int fd_ = -1;
  std::size_t offset_ = 0;
  std::string pending_;
};

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

// The simulator (in this process) and `pelvaron --headless` (a child) in a
// folder of their own, with the broker's options when a broker is given.
class Station {
 public:
  Station(benchmark::State& state, const testing::TestBroker* broker) {
    const std::string program = ConsoleProgram();
    if (program.empty() || access(program.c_str(), X_OK) != 0) {
      error_ = "no console program at '" + program + "'";
      state.SkipWithError(error_.c_str());
      return;
    }
    char dir[] = "/tmp/pelvaron-bench-outputs-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    dir_ = dir;
    std::string error;
    simulator_ = sim::Simulator::OnNewPty({}, &error);
    if (!simulator_) {
      error_ = "simulator: " + error;
      state.SkipWithError(error_.c_str());
      return;
    }
    simulator_->Start();
    std::vector<std::string> args = {program, "--headless", "--device", "COM1=" + simulator_->DevicePath()};
    if (broker) args.insert(args.end(), {"--mqtt", broker->Url(), "--station", "bench"});
    const std::string err = (dir_ / "stderr.txt").string();
    pid_ = fork();
    if (pid_ == 0) {
      if (chdir(dir_.c_str()) != 0) _exit(126);
      int o = open("/dev/null", O_WRONLY);
      int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0) _exit(126);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (!fs::exists(dir_ / "protocol.txt") && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    watch_ = std::make_unique<ProtocolWatch>(dir_ / "protocol.txt");
    if (!watch_->WaitFor(Utf8ToCp1251Lossy("Восстановление связи с Велдор"), deadline)) {
      error_ = "the console did not reach the receiver; see " + err;
      state.SkipWithError(error_.c_str());
      return;
    }
    ok_ = true;
  }
  ~Station() {
    if (pid_ > 0) {
      kill(pid_, SIGINT);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
    if (simulator_) simulator_->Stop();
    std::error_code ec;
    if (!dir_.empty() && !std::getenv("PELVARON_BENCH_KEEP")) fs::remove_all(dir_, ec);
  }
  bool ok() const { return ok_; }
  pid_t pid() const { return pid_; }
  sim::Simulator& simulator() { return *simulator_; }
  ProtocolWatch& watch() { return *watch_; }

 private:
  fs::path dir_;
  std::string error_;
  std::unique_ptr<sim::Simulator> simulator_;
  std::unique_ptr<ProtocolWatch> watch_;
  pid_t pid_ = -1;
  bool ok_ = false;
};

sim::Frame MessageNumber(int i) {
  switch (i % 4) {
    case 0:
      return sim::ContactIdFrame({1234, 31, i % 8 == 0, 1, 130, 1 + i % 999});
    case 1:
      return sim::LoopStateFrame({.address = 12, .kind = 2, .armed1 = true, .linked1 = true, .guard = 3});
    case 2:
      return sim::DiallerFrame({4660, 0x00});
    default:
      return sim::RadioFrame({.address = 8001, .eventCode = 0x10, .source = 5, .detail = 0x05, .expander = 3});
  }
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
    Station station(state, &broker);
    if (!station.ok()) break;
    std::mt19937 random(1);
    std::uniform_int_distribution<int> pauseMs(0, 499);
    std::vector<double> toProtocol, toBroker, after;
    const auto start = Clock::now();
    for (int i = 0; i < messages; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs(random)));
      const int zone = 1 + i % 999;
      char last[64], member[32];
      std::snprintf(last, sizeof last, "    Номер зоны/пользователя:     [%03d]\r\n", zone);
      std::snprintf(member, sizeof member, "\"zone\":\"%03d\"", zone);
      const auto t0 = Clock::now();
      station.simulator().Enqueue(sim::ContactIdFrame({1234, 31, true, 1, 130, zone}));
      auto line = station.watch().WaitFor(Utf8ToCp1251Lossy(last), t0 + std::chrono::seconds(10));
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
    Station station(state, mqtt ? &broker : nullptr);
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
