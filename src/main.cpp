// pelvaron: the console program. A Qt window by default; --headless runs the
// same console without one; --demo brings its own simulated receiver.
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <memory>

#include "app/console.h"
#include "app/options.h"
#include "app/stream_operator.h"
#include "app/ui/run_window.h"
#include "objects/object_card.h"
#include "objects/object_commands.h"
#include "platform/alarm_player.h"
#include "platform/headless_shell.h"
#include "platform/qt_serial_port.h"
#include "platform/real_file_system.h"
#include "platform/system_clock.h"
#include "sim/simulator.h"

namespace {

using namespace pelvaron;

constexpr char kDemoFolder[] = "pelvaron-demo";

class HeadlessOperator : public StreamOperator {
 public:
  using StreamOperator::StreamOperator;
  void SoundAlarm(bool playFile, bool beep) override {
    std::string problem = player_.Play(playFile, beep);
    if (!problem.empty()) ShowMessage({problem, "", MessageIcon::None});
  }

 private:
  AlarmPlayer player_;
};

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

// The demo's objects: the simulated loop units (which send control messages)
// and one panel address that never does, so an overdue alarm shows up soon.
void RegisterDemoObjects(ObjectRegistry& registry) {
  struct Demo {
    const char* address;
    const char* period;
    const char* comment;
  } demo[] = {
      {"0012", "2m", "Склад, ул. Заводская 12"},
      {"0105", "5m", "Магазин \"Продукты\""},
      {"0240", "3m", "Офис, 2 этаж"},
      {"1234", "10m", "Гаражный кооператив"},
      {"0777", "1m", "Аптека (нет контрольных извещений)"},
  };
  ObjectCard card;
  for (const Demo& d : demo) {
    card.m_nSlot = -1;
    OpenObjectCard(card, registry.Table());
    card.m_strAddress = d.address;
    card.m_strPeriod = d.period;
    card.m_strComment = d.comment;
    card.m_bControl = 1;
    RegisterObjectCard(card, registry);
  }
  registry.OperatorChangedObjects();
  registry.RefreshObjectList();
}

}  // namespace

int main(int argc, char** argv) {
  BlockShutdownSignals();
  const std::string programName = ProgramNameFrom(argv[0]);
  const bool headlessAsked = Wants(argc, argv, "--headless") || Wants(argc, argv, "--help");
  const bool window = !headlessAsked && HasDisplay();

  std::unique_ptr<QCoreApplication> app;
  if (window) {
    app = std::make_unique<QApplication>(argc, argv);
  } else {
    app = std::make_unique<QCoreApplication>(argc, argv);
  }
  std::vector<std::string> args;
  for (const QString& a : app->arguments().mid(1)) args.push_back(a.toStdString());
  Options options = ParseOptions(args);
  if (options.help) {
    std::cout << UsageText(programName);
    return 0;
  }
  if (!options.error.empty()) {
    std::cerr << programName << ": " << options.error << "\n";
    return 2;
  }
  if (!window && !options.headless && !options.demo) {
    std::cerr << programName << ": no display found; running without a window (as --headless)\n";
  }

  std::unique_ptr<sim::Simulator> simulator;
  bool demoFresh = false;
  if (options.demo) {
    if (mkdir(kDemoFolder, 0755) != 0 && errno != EEXIST) {
      std::cerr << programName << ": cannot make the folder " << kDemoFolder << ": " << std::strerror(errno)
                << "\n";
      return 1;
    }
    if (chdir(kDemoFolder) != 0) {
      std::cerr << programName << ": cannot enter the folder " << kDemoFolder << ": " << std::strerror(errno)
                << "\n";
      return 1;
    }
    demoFresh = access(kObjectsFileName, F_OK) != 0;
    sim::SimulatorOptions simOptions;
    simOptions.random = true;
    simOptions.seed = static_cast<std::uint64_t>(std::time(nullptr));
    std::string error;
    simulator = sim::Simulator::OnNewPty(simOptions, &error);
    if (!simulator) {
      std::cerr << programName << ": the simulated receiver could not start: " << error << "\n";
      return 1;
    }
    // Whatever port the demo's settings name, it leads to the simulator.
    for (int n = 1; n <= 6; ++n)
      options.devices.Add("COM" + std::to_string(n) + "=" + simulator->DevicePath());
    simulator->Start();
    std::cerr << programName << ": demo in ./" << kDemoFolder << ", simulated receiver on "
              << simulator->DevicePath() << "\n";
  }

  int result = 0;
  if (window) {
    result = RunWindow(*static_cast<QApplication*>(app.get()), programName, options,
                       demoFresh ? RegisterDemoObjects : nullptr);
  } else {
    SystemClock clock;
    RealFileSystem files;
    QtSerialPort port;
    HeadlessOperator op(std::cout, std::cerr, clock, programName);
    Console console(clock, files, op, port, options.devices);
    console.bAlarmSound = options.alarmSound;
    console.bAlarmBeep = options.alarmBeep;
    console.Startup();
    if (demoFresh) RegisterDemoObjects(console.Objects());
    RunHeadless(console, clock, options.tickMs);
  }
  if (simulator) simulator->Stop();
  return result;
}
