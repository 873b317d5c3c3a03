// pelvaron-sim: the receiver on a pseudo-terminal or a serial port.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>

#include "sim/scenario.h"
#include "sim/simulator.h"

namespace {

using namespace pelvaron::sim;

const char kUsage[] =
    "Usage: pelvaron-sim [--scenario FILE] [--random] [--seed N] [--link PATH] [--device PATH] [--verbose]\n"
    "\n"
    "Simulates the receiver: answers \"gs\", \"gn\", \"gc\", \"gd\" and \"sd\" at 19200 baud.\n"
    "By default it makes a new pseudo-terminal and prints its path as the first line on\n"
    "stdout; point the console at it, e.g. pelvaron --device COM1=$(that path).\n"
    "\n"
    "  --scenario FILE  play the scenario in FILE (format below; docs/scenarios.md has more)\n"
    "  --random         queue realistic mixed traffic forever (soak tests, demos)\n"
    "  --seed N         seed of the random traffic and the noise (default 1)\n"
    "  --link PATH      keep a symbolic link PATH pointing at the pseudo-terminal\n"
    "  --device PATH    serve a real serial port instead of a pseudo-terminal\n"
    "  --verbose        one line per request and answer on stderr\n"
    "  --help           this text\n"
    "  --version        the program's version\n"
    "\n"
    "Queue: \"gn\" moves the oldest queued message into \"current\" and sends it (nothing\n"
    "when the queue is empty); \"gc\" sends \"current\" again. Status bit 1 is set while\n"
    "messages wait; the enclosure starts closed and the line in order.\n"
    "It runs until Ctrl-C, SIGTERM or the scenario's \"exit\".\n\n";

std::mutex outputMutex;

int Fail(const std::string& message, int code) {
  std::cerr << "pelvaron-sim: " << message << "\n";
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  SimulatorOptions options;
  std::string scenarioPath, devicePath;
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) return nullptr;
      (void)name;
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage << ScenarioSummary() << "\n";
      return 0;
    } else if (arg == "--version") {
      std::cout << "pelvaron-sim " << PELVARON_VERSION << "\n";
      return 0;
    } else if (arg == "--random") {
      options.random = true;
    } else if (arg == "--verbose") {
      verbose = true;
    } else if (arg == "--scenario" || arg == "--seed" || arg == "--link" || arg == "--device") {
      const char* v = value(arg.c_str());
      if (!v) return Fail(arg + " needs a value; see --help", 2);
      if (arg == "--scenario") {
        scenarioPath = v;
      } else if (arg == "--link") {
        options.linkPath = v;
      } else if (arg == "--device") {
        devicePath = v;
      } else {
        char* end = nullptr;
        errno = 0;
        unsigned long long seed = std::strtoull(v, &end, 10);
        if (errno || !end || *end || !*v || *v == '-')
          return Fail("--seed " + std::string(v) + ": expected a number", 2);
        options.seed = seed;
      }
    } else {
      return Fail("unknown option \"" + arg + "\"; see --help", 2);
    }
  }
  if (!devicePath.empty() && !options.linkPath.empty()) {
    return Fail("--link is for a pseudo-terminal; with --device the path is already known", 2);
  }

  if (!scenarioPath.empty()) {
    std::ifstream in(scenarioPath, std::ios::binary);
    if (!in) return Fail("cannot read " + scenarioPath + ": " + std::strerror(errno), 2);
    std::stringstream text;
    text << in.rdbuf();
    auto parsed = ParseScenario(text.str(), scenarioPath);
    if (!parsed.ok()) {
      for (const auto& e : parsed.errors) std::cerr << e << "\n";
      return Fail(
          "the scenario has " + std::to_string(parsed.errors.size()) + " bad line(s); nothing was started",
          2);
    }
    options.scenario = parsed.scenario;
  }

  // Signals are taken by sigwait below; every thread started later inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  const auto start = std::chrono::steady_clock::now();
  if (verbose) {
    options.onTrace = [start](const std::string& line) {
      double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      std::lock_guard lock(outputMutex);
      std::fprintf(stderr, "%10.3f  %s\n", t, line.c_str());
    };
  }
  options.onDevicePath = [](const std::string& path) {
    std::lock_guard lock(outputMutex);
    std::fprintf(stdout, "%s\n", path.c_str());
    std::fflush(stdout);
  };
  options.onExit = [] { kill(getpid(), SIGTERM); };

  std::string error;
  auto sim = devicePath.empty() ? Simulator::OnNewPty(options, &error)
                                : Simulator::OnDevice(devicePath, options, &error);
  if (!sim) return Fail(error, 1);
  {
    std::lock_guard lock(outputMutex);
    std::fprintf(stdout, "%s\n", sim->DevicePath().c_str());
    std::fflush(stdout);
  }
  sim->Start();
  int signal = 0;
  sigwait(&signals, &signal);
  sim->Stop();
  return 0;
}
