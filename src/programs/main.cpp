// pelvaron: the console program. A Qt window by default; without one
// (--headless, or no display) it hands over to pelvaron-headless, which does
// not load the window's libraries; --demo brings its own simulated receiver.
#include <unistd.h>

#include <QApplication>
#include <climits>
#include <cstdlib>
#include <iostream>

#include "platform/shutdown_signals.h"
#include "programs/demo.h"
#include "programs/program.h"
#include "programs/run_window.h"

namespace {

bool HasDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform) return true;
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (wayland && *wayland);
}

bool Wants(int argc, char** argv, const char* option) {
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == option) return true;
  }
  return false;
}

std::vector<std::string> Arguments(const QCoreApplication& app) {
  std::vector<std::string> args;
  for (const QString& a : app.arguments()) args.push_back(a.toStdString());
  return args;
}

// Replaces this process with pelvaron-headless from the same folder, keeping
// the arguments and the name the program was called by. Returns only when
// that program cannot be run.
void HandOverToHeadless(char** argv) {
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return;
  self[n] = '\0';
  std::string path(self);
  path = path.substr(0, path.find_last_of('/') + 1) + "pelvaron-headless";
  execv(path.c_str(), argv);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace pelvaron;
  BlockShutdownSignals();
  const std::string programName = ProgramNameFrom(argv[0]);
  const bool textOnly = Wants(argc, argv, "--help") || Wants(argc, argv, "--version");
  const bool window = !Wants(argc, argv, "--headless") && !textOnly && HasDisplay();
  if (!window) {
    if (!Wants(argc, argv, "--headless") && !textOnly && !Wants(argc, argv, "--demo")) {
      std::cerr << programName << ": дисплей не найден, программа работает без окна (как с --headless)\n";
    }
    HandOverToHeadless(argv);
    // Still here: the console runs without a window in this process.
    return RunWithoutWindow(std::vector<std::string>(argv, argv + argc), programName);
  }

  QApplication app(argc, argv);
  Options options;
  if (int code = ReadCommandLine(Arguments(app), programName, options); code >= 0) return code;
  std::unique_ptr<sim::Simulator> simulator;
  bool demoFresh = false;
  if (options.demo && StartDemo(programName, options, simulator, demoFresh) != 0) return 1;
  int result = RunWindow(app, programName, options, demoFresh ? RegisterDemoObjects : nullptr);
  if (simulator) simulator->Stop();
  return result;
}
