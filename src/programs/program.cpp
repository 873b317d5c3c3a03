#include "programs/program.h"

#include <iostream>
#include <memory>

#include "app/alarm_sound.h"
#include "app/console.h"
#include "app/headless_loop.h"
#include "app/stream_operator.h"
#include "link/device_map.h"
#include "platform/alarm_player.h"
#include "platform/memory_trim.h"
#include "platform/service_notifier.h"
#include "platform/shutdown_signals.h"
#include "platform/working_folder_lock.h"
#include "programs/demo.h"
#include "programs/outputs_wiring.h"
#include "programs/real_ports.h"
#include "programs/records.h"

namespace pelvaron {
namespace {

class HeadlessOperator : public StreamOperator {
 public:
  HeadlessOperator(std::ostream& log, std::ostream& messages, Clock& clock, std::string programName)
      : StreamOperator(log, messages, clock, std::move(programName)),
        sound_(player_, [&clock] { return clock.MonotonicMs(); },
               [this](const std::string& problem) {
                 if (problem.empty()) {
                   ShowMessage({AlarmSound::kBackText, "", MessageIcon::Information});
                 } else {
                   ShowMessage({AlarmSound::ProblemText(problem), "", MessageIcon::Exclamation});
                 }
               }) {}
  void SoundAlarm(bool playFile, bool beep, bool newAlarm) override { sound_.Play(playFile, beep, newAlarm); }

 private:
  AlarmPlayer player_;
  AlarmSound sound_;
};

}  // namespace

std::string FolderTakenText(const WorkingFolderLock& lock) {
  if (!lock.Taken()) return {};
  std::string holder;
  if (lock.HolderPid() != 0) {
    holder = " (процесс " + std::to_string(lock.HolderPid()) +
             (lock.HolderProgram().empty() ? "" : ", " + lock.HolderProgram()) + ")";
  }
  return "В папке " + lock.Folder() + " уже работает другая консоль" + holder +
         ". Вторая консоль в той же папке записывала бы те же файлы (objects.stt, протокол, events.sqlite) "
         "и давала бы событиям те же номера, поэтому эта не запущена. Остановите ту консоль или запустите "
         "эту в другой папке.";
}

int ReadCommandLine(const std::vector<std::string>& args, const std::string& programName, Options& options) {
  options = ParseOptions(std::vector<std::string>(args.begin() + (args.empty() ? 0 : 1), args.end()));
  if (options.help) {
    std::cout << UsageText(programName);
    return 0;
  }
  if (options.version) {
    std::cout << programName << " " << PELVARON_VERSION << "\n";
    return 0;
  }
  if (!options.error.empty()) {
    std::cerr << programName << ": " << options.error << "\n";
    return 2;
  }
  if (Result<> prepared = PrepareOutputOptions(options); !prepared) {
    std::cerr << programName << ": " << prepared.problem().text << "\n";
    return 2;
  }
  return -1;
}

int RunHeadlessConsole(const std::string& programName, const Options& options, bool demoFresh) {
  const WorkingFolderLock folder;
  if (folder.Taken()) {
    std::cerr << programName << ": " << FolderTakenText(folder) << "\n";
    return 1;
  }
  // An output that cannot work yet says so and tries again: monitoring goes on.
  auto outputs = ConsoleOutputs::Start(options, StderrReport(programName));
  ConsolePorts ports = RealPorts();
  // With the event stream on stdout, the event log's lines go to stderr.
  HeadlessOperator op(options.eventsPath == "-" ? std::cerr : std::cout, std::cerr, *ports.clock, programName);
  // Under systemd: priorities for the journal, readiness and the watchdog.
  op.SetJournalPriorities(StderrGoesToJournal());
  ServiceNotifier service;
  if (!service.Reachable()) op.ShowMessage({service.Reachable().problem().text, "", MessageIcon::Exclamation});
  Console console(*ports.clock, *ports.files, op, *ports.port, options.devices);
  console.bAlarmSound = options.alarmSound;
  console.bAlarmBeep = options.alarmBeep;
  ProgramRecords records(options, false);
  if (EventSink* sink = outputs->Sink()) records.records.AddOutput(sink);
  const ConsoleHooks hooks = outputs->Hooks(records.records);
  hooks.beforeStartup(console, op);
  console.Startup();
  if (demoFresh) RegisterDemoObjects(console.Objects());
  // What start-up alone needed goes back before months of monitoring.
  ReleaseStartupMemory();
  service.Ready("Опрос приёмника на порту " + DeviceMap::ComName(console.settings.nComPort));
  Clock& clock = *ports.clock;
  RunTickLoop(clock, WaitForShutdownSignalFor, options.tickMs, [&] {
    console.OnTimer();
    hooks.afterTick(console);
    service.Tick(clock.MonotonicMs());
  });
  service.Stopping();
  console.Shutdown();
  hooks.afterShutdown(console);
  op.Flush();
  return 0;
}

int RunWithoutWindow(const std::vector<std::string>& args, const std::string& programName) {
  Options options;
  if (int code = ReadCommandLine(args, programName, options); code >= 0) return code;
  std::unique_ptr<sim::Simulator> simulator;
  bool demoFresh = false;
  if (options.demo && StartDemo(programName, options, simulator, demoFresh) != 0) return 1;
  int result = RunHeadlessConsole(programName, options, demoFresh);
  if (simulator) simulator->Stop();
  return result;
}

}  // namespace pelvaron
