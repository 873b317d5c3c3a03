#include "station_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "core/cp1251.h"
#include "objects/object_table.h"

namespace pelvaron::bench {

namespace fs = std::filesystem;

double MsSince(Clock::time_point t0, Clock::time_point t1) {
  return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

double EnvNumber(const char* name, double fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atof(v) : fallback;
}

std::string Beside(const std::string& relative) {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? "" : (self.parent_path() / relative).lexically_normal().string();
}

std::string ProgramBeside(const std::string& relative) {
  if (const char* v = std::getenv("PELVARON_PROGRAM"); v && *v) return v;
  return Beside(relative);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
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

double ProcessCpuSecondsFromStat(pid_t pid) {
  std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long StatusKb(pid_t pid, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key + ":", 0) == 0) return std::atol(line.c_str() + key.size() + 1);
  }
  return -1;
}

double Mean(const std::vector<double>& v) {
  double sum = 0;
  for (double x : v) sum += x;
  return v.empty() ? 0 : sum / static_cast<double>(v.size());
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const double rank = p / 100 * static_cast<double>(v.size() - 1);
  const auto lo = static_cast<std::size_t>(rank);
  const std::size_t hi = std::min(lo + 1, v.size() - 1);
  return v[lo] + (v[hi] - v[lo]) * (rank - static_cast<double>(lo));
}

ProtocolWatch::ProtocolWatch(fs::path path) : path_(std::move(path)) {
  fd_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (fd_ >= 0) inotify_add_watch(fd_, path_.c_str(), IN_MODIFY);
}

ProtocolWatch::~ProtocolWatch() {
  if (fd_ >= 0) close(fd_);
}

std::optional<Clock::time_point> ProtocolWatch::WaitFor(const std::string& bytes, Clock::time_point deadline) {
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

std::optional<Clock::time_point> SendToProtocol(Station& station, int zone, Clock::time_point& sent) {
  char last[64];
  std::snprintf(last, sizeof last, "    Номер зоны/пользователя:     [%03d]\r\n", zone);
  const std::string bytes = Utf8ToCp1251Lossy(last);
  sent = Clock::now();
  station.simulator().Enqueue(sim::ContactIdFrame({1234, 31, true, 1, 130, zone}));
  return station.watch().WaitFor(bytes, sent + std::chrono::seconds(10));
}

void Station::Skip(benchmark::State& state, std::string why) {
  error_ = std::move(why);
  state.SkipWithError(error_.c_str());
}

Station::Station(benchmark::State& state, StationSetup setup) {
  const std::string& program = setup.program;
  if (program.empty() || access(program.c_str(), X_OK) != 0) {
    Skip(state, "no program at '" + program + "': build its target (or set PELVARON_PROGRAM)");
    return;
  }
  std::string dir = "/tmp/" + setup.folder + "-XXXXXX";
  if (!mkdtemp(dir.data())) std::abort();
  dir_ = dir;
  if (!setup.objects.empty()) std::ofstream(dir_ / kObjectsFileName, std::ios::binary) << setup.objects;

  std::string error;
  simulator_ = sim::Simulator::OnNewPty(std::move(setup.simulator), &error);
  if (!simulator_) {
    Skip(state, "simulator: " + error);
    return;
  }
  simulator_->Start();

  std::vector<std::string> argv = {program};
  if (setup.plain) {
    argv.insert(argv.end(), {simulator_->DevicePath(), "500"});
  } else {
    argv.insert(argv.end(), setup.args.begin(), setup.args.end());
    argv.insert(argv.end(), {"--device", "COM1=" + simulator_->DevicePath()});
  }
  const std::string out = setup.discardStdout ? "/dev/null" : (dir_ / "stdout.txt").string();
  const std::string err = (dir_ / "stderr.txt").string();
  pid_ = fork();
  if (pid_ == 0) {
    if (chdir(dir_.c_str()) != 0) _exit(126);
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0) _exit(126);
    for (std::string& entry : setup.env) putenv(entry.data());
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  const auto started = Clock::now();
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  if (setup.plain) {
    if (!simulator_->WaitForRequests(2, std::chrono::seconds(30))) {
      Skip(state, "the plain program did not reach the receiver; see " + err);
      return;
    }
  } else {
    // The protocol file exists once the console has started; the first
    // answered tick writes the link's restore.
    while (!fs::exists(dir_ / "protocol.txt") && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    watch_ = std::make_unique<ProtocolWatch>(dir_ / "protocol.txt");
    if (!watch_->WaitFor(Utf8ToCp1251Lossy("Восстановление связи с Велдор"), deadline)) {
      Skip(state, "the console did not reach the receiver; see " + err);
      return;
    }
  }
  linkUpMs_ = MsSince(started);
  ok_ = true;
}

Station::~Station() {
  if (pid_ > 0) {
    kill(pid_, SIGINT);
    int status = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  if (simulator_) simulator_->Stop();
  std::error_code ec;
  if (!dir_.empty() && !std::getenv("PELVARON_BENCH_KEEP")) fs::remove_all(dir_, ec);
}

std::size_t Station::CountRequests(const std::string& name) const {
  auto all = simulator_->Requests();
  return static_cast<std::size_t>(std::count(all.begin(), all.end(), name));
}

}  // namespace pelvaron::bench
