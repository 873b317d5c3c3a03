// The window's figures: how long its event loop stalls while the console
// polls a receiver that has a message at every tick, how long the program
// takes from its start to the window drawn, and how much memory the running
// window process holds. Needs the window library (a build with
// PELVARON_GUI=ON, the default). See README.md, "Window".
#include <benchmark/benchmark.h>

#if __has_include(<QApplication>) && __has_include("app/ui/console_shell.h")

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMetaEnum>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "alarms/alarm_desk.h"
#include "alarms/alarm_events.h"
#include "alarms/ui/alarm_commands_ui.h"
#include "alarms/ui/alarm_queue_window.h"
#include "app/console.h"
#include "app/console_access.h"
#include "app/ui/console_shell.h"
#include "app/ui/console_window.h"
#include "objects/object_card.h"
#include "programs/real_ports.h"
#include "protocol/ui/event_log_view.h"
#include "res/resources.h"
#include "sim/simulator.h"

extern char** environ;

namespace {

using namespace pelvaron;

constexpr char kChildOption[] = "--startup-child";
// The stamped header line every decoded message starts with.
const QString kMessageHeader = QStringLiteral("Сообщение : ");

std::int64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double MsSince(std::int64_t startNs) {
  return static_cast<double>(MonotonicNs() - startNs) / 1e6;
}

double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double EnvNumber(const char* name, double fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::atof(value) : fallback;
}

// ---------------------------------------------------------------------------
// Where the window thread's time goes: every event it dispatches is timed.

struct EventStat {
  int count = 0;
  double totalMs = 0;
  double maxMs = 0;
  double cpuTotalMs = 0;  // the window thread's CPU time, which load on the machine does not inflate
  double cpuMaxMs = 0;
  long waits = 0;       // the thread blocked inside the event
  long pageFaults = 0;  // major page faults inside the event
};

struct Gap {
  double ms = 0;
  double busyMs = 0;    // spent dispatching events inside the gap
  double cpuMs = 0;     // the window thread's CPU time inside the gap
  long waits = 0;       // context switches: the thread waited (for the loop or a lock)
  long preempted = 0;   // context switches: the thread was ready but another ran
  long pageFaults = 0;  // major page faults: pages read back from disk
  double atS = 0;
  std::vector<std::pair<std::string, double>> parts;
};

// Set by the list models' signals while an event runs, so that a queued call
// from the console can be told apart by what it did to the window.
enum Tag : unsigned { kTagLogAdd = 1, kTagLogDrop = 2, kTagObjects = 4 };

struct EventProfile {
  std::map<std::string, EventStat> topLevel;  // events the loop itself dispatched
  std::map<std::string, EventStat> nested;    // events sent from inside those
  std::vector<std::pair<std::string, double>> gapParts;
  double gapBusyMs = 0;
  const QObject* ignored = nullptr;  // the probe timer

  void Record(const std::string& key, double ms, double cpuMs, long waits, long pageFaults, int depth) {
    EventStat& s = (depth == 0 ? topLevel : nested)[key];
    ++s.count;
    s.totalMs += ms;
    s.maxMs = std::max(s.maxMs, ms);
    s.cpuTotalMs += cpuMs;
    s.cpuMaxMs = std::max(s.cpuMaxMs, cpuMs);
    s.waits += waits;
    s.pageFaults += pageFaults;
    if (depth == 0) {
      gapBusyMs += ms;
      if (ms >= 0.05) gapParts.emplace_back(key, ms);
    }
  }
};

std::string EventName(QEvent::Type type) {
  static const QMetaEnum names = QMetaEnum::fromType<QEvent::Type>();
  const char* name = names.valueToKey(type);
  return name ? name : std::to_string(static_cast<int>(type));
}

std::string ReceiverName(const QObject* receiver) {
  std::string name = receiver->metaObject()->className();
  const QString object = receiver->objectName();
  if (object == QLatin1String("qt_scrollarea_viewport") && receiver->parent()) {
    name = std::string(receiver->parent()->metaObject()->className()) + ".viewport";
  } else if (!object.isEmpty()) {
    name += "#" + object.toStdString();
  }
  return name;
}

class TimedApplication : public QApplication {
 public:
  TimedApplication(int& argc, char** argv)
      : QApplication(argc, argv), mainThread_(std::this_thread::get_id()) {}

  bool notify(QObject* receiver, QEvent* event) override {
    if ((!profile && !watchStartup) || std::this_thread::get_id() != mainThread_)
      return QApplication::notify(receiver, event);
    const int depth = depth_++;
    if (depth == 0) tags = 0;
    const QEvent::Type type = event->type();
    // The receiver may be gone when notify returns (deferred deletes).
    std::string key;
    if (profile && receiver != profile->ignored) key = ReceiverName(receiver) + " " + EventName(type);
    if (watchStartup) {
      if (type == QEvent::Expose && exposedNs == 0 && receiver->isWindowType()) exposedNs = MonotonicNs();
      if (type == QEvent::Paint && receiver->isWidgetType()) paintSeen_ = true;
    }
    const double startCpu = key.empty() ? 0 : ThreadCpuMs();
    rusage before{}, after{};
    if (!key.empty()) getrusage(RUSAGE_THREAD, &before);
    const std::int64_t start = MonotonicNs();
    const bool result = QApplication::notify(receiver, event);
    const double ms = MsSince(start);
    const double cpuMs = key.empty() ? 0 : ThreadCpuMs() - startCpu;
    if (!key.empty()) getrusage(RUSAGE_THREAD, &after);
    --depth_;
    if (profile && !key.empty()) {
      if (type == QEvent::MetaCall && depth == 0 && tags != 0) {
        key += (tags & kTagLogAdd) ? " [log line added]" : "";
        key += (tags & kTagLogDrop) ? " [log line dropped]" : "";
        key += (tags & kTagObjects) ? " [object list refilled]" : "";
      }
      profile->Record(key, ms, cpuMs, after.ru_nvcsw - before.ru_nvcsw, after.ru_majflt - before.ru_majflt,
                      depth);
    }
    if (watchStartup && depth == 0 && paintSeen_ && paintedNs == 0) paintedNs = MonotonicNs();
    return result;
  }

  EventProfile* profile = nullptr;
  unsigned tags = 0;
  bool watchStartup = false;
  std::int64_t exposedNs = 0;
  std::int64_t paintedNs = 0;

 private:
  std::thread::id mainThread_;
  int depth_ = 0;
  bool paintSeen_ = false;
};

TimedApplication* App() {
  return static_cast<TimedApplication*>(QCoreApplication::instance());
}

// Runs the window thread's loop until `done` or the time is up.
bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  if (done()) return true;
  QEventLoop loop;
  QTimer poll;
  QElapsedTimer elapsed;
  elapsed.start();
  bool ok = false;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) {
      ok = true;
      loop.quit();
    } else if (elapsed.elapsed() > timeoutMs) {
      loop.quit();
    }
  });
  poll.start(5);
  loop.exec();
  return ok;
}

// A folder of its own for the console's files, left and removed at the end.
class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/pelvaron-bench-window-XXXXXX";
    if (!mkdtemp(name)) {
      std::perror("mkdtemp");
      std::abort();
    }
    path_ = name;
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_, previous_;
};

// Objects 0001..count, controlled, as an operator would register them.
void RegisterObjects(ObjectRegistry& registry, int count) {
  ObjectCard card;
  for (int n = 1; n <= count; ++n) {
    card.m_nSlot = -1;
    OpenObjectCard(card, registry.Table());
    char address[12];
    std::snprintf(address, sizeof address, "%04d", n);
    card.m_strAddress = address;
    card.m_strPeriod = "2h";
    card.m_strComment =
        "Object " + std::to_string(n) + ", 12 Factory Street, entrance " + std::to_string(n % 4);
    card.m_bControl = 1;
    RegisterObjectCard(card, registry);
  }
  registry.OperatorChangedObjects();
  registry.RefreshObjectList();
}

std::unique_ptr<sim::Simulator> StartSimulator(sim::SimulatorOptions options, Options& console) {
  std::string error;
  auto simulator = sim::Simulator::OnNewPty(std::move(options), &error);
  if (!simulator) {
    std::fprintf(stderr, "simulator: %s\n", error.c_str());
    std::abort();
  }
  simulator->Start();
  for (int n = 1; n <= 6; ++n) console.devices.Add("COM" + std::to_string(n) + "=" + simulator->DevicePath());
  return simulator;
}

double Percentile(std::vector<double> sorted, double p) {
  if (sorted.empty()) return 0;
  std::sort(sorted.begin(), sorted.end());
  const auto index = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(index, sorted.size() - 1)];
}

void PrintProfile(const char* title, const EventProfile& profile, const std::vector<Gap>& worst) {
  std::fprintf(stderr, "\n%s: the longest gaps of the 1 ms timer and what ran in them\n", title);
  for (const Gap& gap : worst) {
    std::fprintf(stderr,
                 "  %7.2f ms at %5.1f s: events %.2f ms, thread CPU %.2f ms, waits %ld, preempted %ld, "
                 "page faults %ld\n",
                 gap.ms, gap.atS, gap.busyMs, gap.cpuMs, gap.waits, gap.preempted, gap.pageFaults);
    std::map<std::string, std::pair<int, double>> parts;
    for (const auto& [key, ms] : gap.parts) {
      ++parts[key].first;
      parts[key].second += ms;
    }
    for (const auto& [key, part] : parts)
      std::fprintf(stderr, "      %7.2f ms in %3d x %s\n", part.second, part.first, key.c_str());
  }
  auto table = [](const char* heading, const std::map<std::string, EventStat>& stats) {
    std::vector<std::pair<std::string, EventStat>> rows(stats.begin(), stats.end());
    std::sort(rows.begin(), rows.end(),
              [](const auto& a, const auto& b) { return a.second.maxMs > b.second.maxMs; });
    std::fprintf(stderr, "  %s (longest first; wall time, and CPU time of the window thread)\n", heading);
    std::fprintf(stderr, "  %8s %8s %8s %8s %7s %6s %6s  %s\n", "max", "mean", "max CPU", "mean CPU", "count",
                 "waits", "faults", "receiver and event (ms)");
    for (std::size_t i = 0; i < rows.size() && i < 14; ++i) {
      const EventStat& s = rows[i].second;
      std::fprintf(stderr, "  %8.3f %8.3f %8.3f %8.3f %7d %6ld %6ld  %s\n", s.maxMs, s.totalMs / s.count,
                   s.cpuMaxMs, s.cpuTotalMs / s.count, s.count, s.waits, s.pageFaults, rows[i].first.c_str());
    }
  };
  table("events dispatched by the loop", profile.topLevel);
  table("events sent inside them", profile.nested);
}

// A 1 ms timer on the window thread: the gaps between its timeouts are the
// times the loop could not run it. The worst gaps keep what ran in them.
class GapProbe {
 public:
  explicit GapProbe(EventProfile& profile) : profile_(profile) {}

  // Runs the window thread's loop for `seconds`, `onTick` at every timeout;
  // returns the seconds measured.
  double Run(double seconds, const std::function<void()>& onTick = {}) {
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    profile_.ignored = &probe;
    profile_.gapParts.clear();
    profile_.gapBusyMs = 0;
    gaps.reserve(static_cast<std::size_t>(seconds * 1100));
    const std::int64_t startNs = MonotonicNs();
    std::int64_t lastNs = startNs;
    double lastCpu = ThreadCpuMs();
    rusage lastUsage{};
    getrusage(RUSAGE_THREAD, &lastUsage);
    QObject::connect(&probe, &QTimer::timeout, [&] {
      const std::int64_t now = MonotonicNs();
      const double cpu = ThreadCpuMs();
      rusage usage{};
      getrusage(RUSAGE_THREAD, &usage);
      const double gap = static_cast<double>(now - lastNs) / 1e6;
      gaps.push_back(gap);
      if (worst.size() < kWorst || gap > worst.back().ms) {
        worst.push_back({gap, profile_.gapBusyMs, cpu - lastCpu, usage.ru_nvcsw - lastUsage.ru_nvcsw,
                         usage.ru_nivcsw - lastUsage.ru_nivcsw, usage.ru_majflt - lastUsage.ru_majflt,
                         static_cast<double>(now - startNs) / 1e9, profile_.gapParts});
        std::sort(worst.begin(), worst.end(), [](const Gap& a, const Gap& b) { return a.ms > b.ms; });
        if (worst.size() > kWorst) worst.pop_back();
      }
      if (onTick) onTick();
      profile_.gapParts.clear();
      profile_.gapBusyMs = 0;
      lastNs = MonotonicNs();
      lastCpu = ThreadCpuMs();
      getrusage(RUSAGE_THREAD, &lastUsage);
    });
    App()->profile = &profile_;
    probe.start(1);
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    probe.stop();
    App()->profile = nullptr;
    return MsSince(startNs) / 1000;
  }

  void Report(benchmark::State& state) const {
    state.counters["gap_max_ms"] = Percentile(gaps, 1.0);
    state.counters["gap_p999_ms"] = Percentile(gaps, 0.999);
    state.counters["gap_p99_ms"] = Percentile(gaps, 0.99);
    state.counters["gap_median_ms"] = Percentile(gaps, 0.5);
    state.counters["gaps_over_16ms"] =
        static_cast<double>(std::count_if(gaps.begin(), gaps.end(), [](double g) { return g > 16; }));
    state.counters["gaps"] = static_cast<double>(gaps.size());
    double longestEvent = 0;
    double longestEventCpu = 0;
    for (const auto& [key, s] : profile_.topLevel) {
      longestEvent = std::max(longestEvent, s.maxMs);
      longestEventCpu = std::max(longestEventCpu, s.cpuMaxMs);
    }
    state.counters["longest_event_ms"] = longestEvent;
    state.counters["longest_event_cpu_ms"] = longestEventCpu;
  }

  static constexpr std::size_t kWorst = 6;
  std::vector<double> gaps;
  std::vector<Gap> worst;

 private:
  EventProfile& profile_;
};

// The machine's own floor: the same timer in an idle loop, no window.
void BM_TimerBaseline(benchmark::State& state) {
  const double seconds = EnvNumber("PELVARON_BENCH_SECONDS", 60);
  for (auto _ : state) {
    EventProfile profile;
    GapProbe probe(profile);
    state.SetIterationTime(probe.Run(seconds));
    probe.Report(state);
    PrintProfile("idle loop, no window", profile, probe.worst);
  }
}

// ---------------------------------------------------------------------------
// 1. The window's event loop while the console polls, decodes and reports.

// A message at every tick: Contact ID, a guard's control message from a loop
// unit (which refills the 98-row object list), a radio record, a dialler.
std::vector<sim::Frame> TrafficMix() {
  return {
      sim::ContactIdFrame({1234, 31, true, 1, 130, 5}),
      sim::LoopStateFrame({.address = 12, .kind = 2, .armed1 = true, .linked1 = true, .guard = 3}),
      sim::RadioFrame({.address = 8001, .eventCode = 0x10, .source = 5, .detail = 0x05, .expander = 3}),
      sim::DiallerFrame({4660, 0x00}),
  };
}

// range(0): 0 = the log kept under 400 lines ("Очистить" at 360),
//           1 = the log full from the start, every new line drops the oldest.
void BM_WindowStall(benchmark::State& state) {
  const bool full = state.range(0) == 1;
  const double seconds = EnvNumber("PELVARON_BENCH_SECONDS", 60);
  for (auto _ : state) {
    TempDir dir;
    Options options;
    auto simulator = StartSimulator({}, options);
    int boxes = 0;
    auto shell = std::make_unique<ui::WindowShell>("pelvaron", options, RealPorts,
                                                   [](ObjectRegistry& r) { RegisterObjects(r, 98); });
    shell->messageHook = [&boxes](const OperatorMessage&) { ++boxes; };
    shell->start();
    ui::CConsoleDlg& window = shell->window();
    if (!WaitFor([&] { return window.m_strLinkState == QString::fromUtf8(kStateNormal); }, 20000) ||
        !WaitFor([&] { return window.m_listObjects->topLevelItemCount() == 98; }, 20000)) {
      state.SkipWithError("the console did not come up against the simulator");
      break;
    }
    if (full) {
      shell->post(OnConsole(shell->consoleAccess(), [](Console& c, ObjectCard&) {
        for (int i = 0; i < MAX_LOG_LINES; ++i)
          c.Protocol().AppendPlainLine("filler line " + std::to_string(i));
      }));
      if (!WaitFor([&] { return window.m_listProtocol->lineCount() == ui::EventLogList::kMaxLines; },
                   20000)) {
        state.SkipWithError("the log did not fill");
        break;
      }
    }

    // The fix proposed for the X11 stalls, tried from outside: no scroll on
    // every change of the current line, only addLine's own scrollToItem.
    const bool autoScrollOff = EnvNumber("PELVARON_BENCH_LOG_AUTOSCROLL_OFF", 0) != 0;
    if (autoScrollOff) window.m_listProtocol->setAutoScroll(false);
    state.counters["log_autoscroll_off"] = autoScrollOff;

    // What reaches the window while measuring.
    std::atomic<bool> measuring{false};
    int lines = 0, messages = 0;
    QAbstractItemModel* logModel = window.m_listProtocol->model();
    QObject::connect(logModel, &QAbstractItemModel::rowsInserted, &window,
                     [&](const QModelIndex&, int first, int last) {
                       App()->tags |= kTagLogAdd;
                       if (!measuring) return;
                       for (int row = first; row <= last; ++row) {
                         ++lines;
                         if (logModel->index(row, 0).data().toString().contains(kMessageHeader)) ++messages;
                       }
                     });
    QObject::connect(logModel, &QAbstractItemModel::rowsRemoved, &window, [] { App()->tags |= kTagLogDrop; });
    QAbstractItemModel* objectModel = window.m_listObjects->model();
    QObject::connect(objectModel, &QAbstractItemModel::rowsInserted, &window,
                     [] { App()->tags |= kTagObjects; });

    // The receiver always has a message waiting.
    std::atomic<bool> feeding{true};
    std::thread feeder([&] {
      const std::vector<sim::Frame> mix = TrafficMix();
      std::size_t next = 0;
      while (feeding) {
        if (simulator->QueueSize() < 2) simulator->Enqueue(mix[next++ % mix.size()]);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
    // Let the console settle into a message per tick before measuring.
    WaitFor([] { return false; }, 2000);

    EventProfile profile;
    GapProbe probe(profile);
    auto* clear = window.control<QPushButton>(res::IDC_CLEAR_LOG);
    bool clearAsked = false;
    int clears = 0;
    measuring = true;
    const double measured = probe.Run(seconds, [&] {
      if (full) return;
      // The operator's "Очистить" keeps this run's log short.
      const int count = window.m_listProtocol->lineCount();
      if (count >= 360 && !clearAsked) {
        clearAsked = true;
        ++clears;
        clear->click();
      } else if (count < 50) {
        clearAsked = false;
      }
    });
    measuring = false;
    feeding = false;
    feeder.join();

    state.SetIterationTime(measured);
    probe.Report(state);
    state.counters["messages"] = messages;
    state.counters["lines"] = lines;
    state.counters["clears"] = clears;
    state.counters["boxes"] = boxes;
    PrintProfile(full ? "log full and sliding" : "log under 400 lines", profile, probe.worst);

    shell->requestClose();
    if (!WaitFor([&] { return shell->finished(); }, 20000))
      state.SkipWithError("the console did not shut down");
    shell.reset();
    simulator->Stop();
  }
}

// ---------------------------------------------------------------------------
// 2. From the process's start to the window drawn, in a child process that
// starts as `pelvaron --demo` does: its folder, the simulated receiver with
// random traffic on a new pty, the window shell with the demo's five objects.

struct StartupTimes {
  double main = 0, app = 0, shown = 0, exposed = 0, painted = 0, linkShown = 0;
};

int StartupChild(int argc, char** argv) {
  const std::int64_t mainNs = MonotonicNs();
  const std::int64_t spawnNs = argc > 2 ? std::atoll(argv[2]) : mainNs;
  auto ms = [spawnNs](std::int64_t ns) { return ns ? static_cast<double>(ns - spawnNs) / 1e6 : -1.0; };
  int appArgc = 1;
  TimedApplication app(appArgc, argv);
  app.watchStartup = true;
  const std::int64_t appNs = MonotonicNs();
  TempDir dir;
  Options options;
  sim::SimulatorOptions simOptions;
  simOptions.random = true;
  simOptions.seed = 7;
  auto simulator = StartSimulator(simOptions, options);
  ui::WindowShell shell("pelvaron", options, RealPorts, [](ObjectRegistry& r) { RegisterObjects(r, 5); });
  shell.start();
  const std::int64_t shownNs = shell.window().isVisible() ? MonotonicNs() : 0;
  std::int64_t linkNs = 0;
  WaitFor(
      [&] {
        if (!linkNs && shell.window().m_strLinkState == QString::fromUtf8(kStateNormal))
          linkNs = MonotonicNs();
        return linkNs && app.paintedNs;
      },
      20000);
  std::printf("main=%.2f app=%.2f shown=%.2f exposed=%.2f painted=%.2f link=%.2f\n", ms(mainNs), ms(appNs),
              ms(shownNs), ms(app.exposedNs), ms(app.paintedNs), ms(linkNs));
  std::fflush(stdout);
  app.watchStartup = false;
  shell.requestClose();
  WaitFor([&] { return shell.finished(); }, 20000);
  simulator->Stop();
  return 0;
}

std::string SelfPath() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) std::abort();
  return std::string(path, static_cast<std::size_t>(n));
}

// Starts `argv` (stdout into a pipe when `out` is given, else /dev/null) in
// `folder`; returns the child's pid.
pid_t Spawn(const std::vector<std::string>& args, int* out, const std::string& folder = {}) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int pipeFds[2] = {-1, -1};
  if (out) {
    if (pipe(pipeFds) != 0) std::abort();
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  }
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    std::fprintf(stderr, "cannot start %s: %s\n", argv[0], std::strerror(rc));
    return -1;
  }
  if (out) {
    close(pipeFds[1]);
    *out = pipeFds[0];
  }
  return pid;
}

void BM_StartupToWindow(benchmark::State& state) {
  const std::string self = SelfPath();
  std::vector<StartupTimes> runs;
  for (auto _ : state) {
    int out = -1;
    const std::int64_t spawnNs = MonotonicNs();
    const pid_t pid = Spawn({self, kChildOption, std::to_string(spawnNs)}, &out);
    if (pid < 0) {
      state.SkipWithError("cannot start the child");
      break;
    }
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = read(out, buffer, sizeof buffer)) > 0;)
      text.append(buffer, static_cast<std::size_t>(n));
    close(out);
    int status = 0;
    waitpid(pid, &status, 0);
    StartupTimes t;
    if (std::sscanf(text.c_str(), "main=%lf app=%lf shown=%lf exposed=%lf painted=%lf link=%lf", &t.main,
                    &t.app, &t.shown, &t.exposed, &t.painted, &t.linkShown) != 6 ||
        t.painted < 0) {
      state.SkipWithError(("the child reported: " + text).c_str());
      break;
    }
    runs.push_back(t);
    state.SetIterationTime(t.painted / 1000);
  }
  auto median = [&](double StartupTimes::*field) {
    std::vector<double> values;
    for (const StartupTimes& t : runs) values.push_back(t.*field);
    return Percentile(values, 0.5);
  };
  state.counters["main_ms"] = median(&StartupTimes::main);
  state.counters["app_ms"] = median(&StartupTimes::app);
  state.counters["shown_ms"] = median(&StartupTimes::shown);
  state.counters["exposed_ms"] = median(&StartupTimes::exposed);
  state.counters["painted_ms"] = median(&StartupTimes::painted);
  state.counters["link_shown_ms"] = median(&StartupTimes::linkShown);
  std::vector<double> painted;
  for (const StartupTimes& t : runs) painted.push_back(t.painted);
  state.counters["painted_min_ms"] = Percentile(painted, 0);
  state.counters["painted_max_ms"] = Percentile(painted, 1);
}

// ---------------------------------------------------------------------------
// 3. The resident memory of a running `pelvaron --demo` window process.

std::map<std::string, double> ProcStatusKb(pid_t pid) {
  std::map<std::string, double> values;
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string name;
    double value = 0;
    if (fields >> name >> value) values[name.substr(0, name.size() - 1)] = value;
  }
  return values;
}

double ProcCpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), {});
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  double utime = 0, stime = 0;
  for (int i = 3; fields >> field; ++i) {
    if (i == 14) utime = std::atof(field.c_str());
    if (i == 15) {
      stime = std::atof(field.c_str());
      break;
    }
  }
  return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

void BM_DemoResidentMemory(benchmark::State& state) {
  const char* given = std::getenv("PELVARON_BIN");
  const std::string program =
      given && *given
          ? given
          : (std::filesystem::path(SelfPath()).parent_path().parent_path() / "src" / "pelvaron").string();
  const double seconds = EnvNumber("PELVARON_BENCH_MEMORY_SECONDS", 30);
  for (auto _ : state) {
    TempDir dir;
    const std::int64_t startNs = MonotonicNs();
    const pid_t pid = Spawn({program, "--demo"}, nullptr, dir.path().string());
    if (pid < 0) {
      state.SkipWithError(("cannot start " + program).c_str());
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(seconds * 1000)));
    std::map<std::string, double> kb = ProcStatusKb(pid);
    const double cpu = ProcCpuSeconds(pid);
    const double wall = MsSince(startNs) / 1000;
    const bool running = waitpid(pid, nullptr, WNOHANG) == 0;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    const std::string log = dir.path() / "pelvaron-demo" / "protocol.txt";
    if (!running || kb["VmRSS"] == 0) {
      state.SkipWithError("pelvaron --demo did not keep running (a display? the binary built?)");
      break;
    }
    state.SetIterationTime(wall);
    state.counters["VmRSS_MiB"] = kb["VmRSS"] / 1024;
    state.counters["VmHWM_MiB"] = kb["VmHWM"] / 1024;
    state.counters["RssAnon_MiB"] = kb["RssAnon"] / 1024;
    state.counters["RssFile_MiB"] = kb["RssFile"] / 1024;
    state.counters["RssShmem_MiB"] = kb["RssShmem"] / 1024;
    state.counters["threads"] = kb["Threads"];
    state.counters["cpu_pct"] = 100 * cpu / wall;
    state.counters["clean_exit"] = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::error_code ignored;
    state.counters["protocol_bytes"] = static_cast<double>(std::filesystem::file_size(log, ignored));
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// 4. The alarm queue's window with 500 alarms waiting while more arrive: the
// desk on a thread of its own (as on the console's), each change sent whole
// to the window, which lists it again keeping the operator's choice.

class NoHost : public ui::CommandHost {
 public:
  void post(Call) override {}
  void showMessage(const OperatorMessage&, QWidget*) override {}
  void showMessageAndWait(const OperatorMessage&, QWidget*) override {}
  bool ask(const OperatorMessage&, QWidget*, bool) override { return false; }
  QWidget* dialogOwner() override { return nullptr; }
  bool beginSettingsCommand() override { return false; }
  void endSettingsCommand() override {}
  void beginExchange() override {}
  void endExchange() override {}
  void postAndReturn(Call, std::function<void()>) override {}
};

void BM_AlarmQueueStall(benchmark::State& state) {
  const int waiting = static_cast<int>(state.range(0));
  const double seconds = EnvNumber("PELVARON_BENCH_SECONDS", 60);
  const double perSecond = EnvNumber("PELVARON_BENCH_ALARMS_PER_SECOND", 2);
  for (auto _ : state) {
    AlarmDesk desk(PriorityTable::Defaults());
    NoHost host;
    ui::AlarmCommandsUi commands(host);
    commands.attach(desk, "events.sqlite");
    std::uint64_t seq = 0;
    // Burglaries and fires at as many objects, every one waiting.
    for (int i = 0; i < waiting; ++i) {
      ++seq;
      desk.Publish(testing::ContactId(1000 + i, i % 10 == 0 ? 110 : 130, true, 1, seq, 1000 + i));
    }
    commands.onAlarmQueue();
    ui::AlarmQueueWindow* window = commands.queueWindow();
    if (!WaitFor([&] { return window->list()->topLevelItemCount() == waiting; }, 20000)) {
      state.SkipWithError("the queue did not list its alarms");
      break;
    }
    // The operator has chosen one, far down the list.
    window->list()->topLevelItem(waiting - 1)->setSelected(true);

    // New alarms and repeats on the desk's own thread.
    std::atomic<bool> feeding{true};
    std::atomic<int> published{0};
    std::thread feeder([&] {
      const auto step = std::chrono::microseconds(static_cast<std::int64_t>(1e6 / perSecond));
      auto next = std::chrono::steady_clock::now();
      while (feeding) {
        ++seq;
        const int n = published++;
        // Every other one is a repeat of a waiting alarm: the list changes all the same.
        const int address = n % 2 == 0 ? 5000 + n : 1000 + n % waiting;
        desk.Publish(testing::ContactId(address, n % 5 == 0 ? 110 : 130, true, 1, seq, 100000 + n));
        next += step;
        std::this_thread::sleep_until(next);
      }
    });
    EventProfile profile;
    GapProbe probe(profile);
    const double measured = probe.Run(seconds);
    feeding = false;
    feeder.join();
    QCoreApplication::processEvents();
    state.SetIterationTime(measured);
    probe.Report(state);
    state.counters["alarms_arrived"] = published.load();
    state.counters["rows_at_end"] = window->list()->topLevelItemCount();
    PrintProfile("the alarm queue, alarms arriving", profile, probe.worst);
    desk.SetListener(nullptr);
    QCoreApplication::processEvents();
  }
}

BENCHMARK(BM_TimerBaseline)->Iterations(1)->Unit(benchmark::kSecond)->UseManualTime();
BENCHMARK(BM_WindowStall)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseManualTime();
BENCHMARK(BM_StartupToWindow)->Iterations(10)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_DemoResidentMemory)->Iterations(1)->Unit(benchmark::kSecond)->UseManualTime();
BENCHMARK(BM_AlarmQueueStall)->Arg(500)->Iterations(1)->Unit(benchmark::kSecond)->UseManualTime();

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], kChildOption) == 0) return StartupChild(argc, argv);
  const char* x = std::getenv("DISPLAY");
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !(x && *x)) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int appArgc = 1;
  TimedApplication app(appArgc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

#else

namespace {
void BM_WindowNeedsQt(benchmark::State& state) {
  state.SkipWithError("bench_window needs the window library: configure with PELVARON_GUI=ON");
  for (auto _ : state) {
  }
}
}  // namespace
BENCHMARK(BM_WindowNeedsQt);
BENCHMARK_MAIN();

#endif
