#pragma once

// What the benchmarks that measure a console program from outside share
// (bench_console, bench_outputs): a station (the simulator in this process,
// the program a child in a folder of its own), the protocol file watched for
// a line, the process's CPU and memory read from /proc, and the arithmetic of
// the figures.

#include <benchmark/benchmark.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/simulator.h"

namespace pelvaron::bench {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t0, Clock::time_point t1 = Clock::now());
// The number in the environment variable, or fallback when it is not set.
double EnvNumber(const char* name, double fallback);
// A path relative to this program's folder.
std::string Beside(const std::string& relative);
// $PELVARON_PROGRAM, or the program at relative beside this one.
std::string ProgramBeside(const std::string& relative);
std::string ReadFile(const std::filesystem::path& path);

// CPU time of every thread of the process, in seconds (scheduler statistics:
// nanoseconds, unlike the 10 ms ticks of /proc/PID/stat).
double ProcessCpuSeconds(pid_t pid);
// The same from /proc/PID/stat (utime + stime, in clock ticks): it also
// counts threads that have ended.
double ProcessCpuSecondsFromStat(pid_t pid);
// A "kB" line of /proc/PID/status (VmRSS, VmHWM ...; Threads counts), -1 when missing.
long StatusKb(pid_t pid, const std::string& key);

double Mean(const std::vector<double>& v);
// The p-th percentile (0..100), interpolated; 0 for no values.
double Percentile(std::vector<double> v, double p);

// Appends to the protocol file, seen through inotify.
class ProtocolWatch {
 public:
  explicit ProtocolWatch(std::filesystem::path path);
  ~ProtocolWatch();
  ProtocolWatch(const ProtocolWatch&) = delete;
  ProtocolWatch& operator=(const ProtocolWatch&) = delete;

  // Waits until the bytes appear after what an earlier call found; the time
  // they were seen, or nothing at the deadline.
  std::optional<Clock::time_point> WaitFor(const std::string& bytes, Clock::time_point deadline);

 private:
  std::filesystem::path path_;
  int fd_ = -1;
  std::size_t offset_ = 0;
  std::string pending_;
};

// The four kinds of message in turn, as a station's night brings them.
sim::Frame MessageNumber(int i);

class Station;

// Puts a Contact ID alarm for the zone (1..999) into the receiver's queue,
// sent being when, and waits for its last line in the protocol file: the
// moment the line was seen, or nothing within 10 s.
std::optional<Clock::time_point> SendToProtocol(Station& station, int zone, Clock::time_point& sent);

struct StationSetup {
  std::string program;
  // plain_station: the device and the tick as its arguments, no protocol
  // file; the link is up at its second request.
  bool plain = false;
  std::vector<std::string> args;  // the console's options; "--device COM1=..." follows them
  std::vector<std::string> env;   // NAME=VALUE added to the program's environment
  sim::SimulatorOptions simulator;
  std::string objects;  // the objects file's image; none when empty
  bool discardStdout = false;  // else stdout.txt in the folder
  std::string folder = "pelvaron-bench";  // /tmp/<folder>-XXXXXX, removed unless PELVARON_BENCH_KEEP is set
};

// The simulator (in this process) and the program (a child) in a folder of
// their own; the link is up once it is constructed, or the benchmark is
// skipped with the reason. Ends the program with SIGINT (SIGKILL after 10 s).
class Station {
 public:
  Station(benchmark::State& state, StationSetup setup);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  bool ok() const { return ok_; }
  pid_t pid() const { return pid_; }
  sim::Simulator& simulator() { return *simulator_; }
  ProtocolWatch& watch() { return *watch_; }
  double linkUpMs() const { return linkUpMs_; }
  std::size_t CountRequests(const std::string& name) const;

 private:
  void Skip(benchmark::State& state, std::string why);

  std::filesystem::path dir_;
  std::string error_;
  std::unique_ptr<sim::Simulator> simulator_;
  std::unique_ptr<ProtocolWatch> watch_;
  pid_t pid_ = -1;
  double linkUpMs_ = 0;
  bool ok_ = false;
};

}  // namespace pelvaron::bench
