#include "programs/run_window.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QTranslator>
#include <atomic>
#include <iostream>
#include <thread>

#include "alarms/ui/alarm_commands_ui.h"
#include "app/ui/console_shell.h"
#include "app/ui/console_window.h"
#include "platform/alarm_player.h"
#include "platform/shutdown_signals.h"
#include "platform/working_folder_lock.h"
#include "programs/alarm_windows.h"
#include "programs/outputs_wiring.h"
#include "programs/program.h"
#include "programs/real_ports.h"
#include "programs/records.h"
#include "station/ui/station_commands_ui.h"
#include "widgets/notice.h"

namespace pelvaron {

int RunWindow(QApplication& app, const std::string& programName, const Options& options,
              void (*afterStartup)(ObjectRegistry&)) {
  // Qt's own dialogs (the file dialog, standard buttons) speak the console's language.
  QTranslator qtTexts;
  if (qtTexts.load(QLocale(QLocale::Russian), "qtbase", "_",
                   QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    app.installTranslator(&qtTexts);
  }
  const WorkingFolderLock folder;
  if (folder.Taken()) {
    const std::string text = FolderTakenText(folder);
    std::cerr << programName << ": " << text << "\n";
    ui::ShowNotice(nullptr, QString::fromStdString(text), {}, QMessageBox::Critical);
    return 1;
  }
  std::function<void(ObjectRegistry&)> after;
  if (afterStartup) after = afterStartup;
  // The outputs outlive the shell: the console's last event reaches them.
  // Their reports go to the window while there is one, and to stderr.
  // The pointer is only read on the window's thread.
  auto window = std::make_shared<QPointer<ui::WindowShell>>();
  const Report toStderr = StderrReport(programName);
  // An output that cannot work yet says so and tries again: monitoring goes on.
  auto outputs = ConsoleOutputs::Start(
      options,
      [window, toStderr, &app](const std::string& text) {
        toStderr(text);
        QMetaObject::invokeMethod(
            &app,
            [window, text] {
              if (*window) (*window)->showMessage({text, "", MessageIcon::Exclamation});
            },
            Qt::QueuedConnection);
      });
  ProgramRecords records(options, true);
  if (EventSink* sink = outputs->Sink()) records.records.AddOutput(sink);
  // The alarm windows outlive the shell, which stops the console's thread first.
  std::unique_ptr<ui::AlarmCommandsUi> alarms;
  std::unique_ptr<ui::StationCommandsUi> station;
  ui::WindowShell shell(programName, options, RealPorts, after, outputs->Hooks(records.records),
                        std::make_unique<AlarmPlayer>());
  alarms = std::make_unique<ui::AlarmCommandsUi>(shell);
  alarms->attach(records.records.desk(), records.records.store().path());
  JoinAlarmWindows(shell, *alarms);
  station = std::make_unique<ui::StationCommandsUi>(shell, records.records.desk());
  JoinStationWindows(shell, *alarms, *station);
  *window = &shell;
  QObject::connect(&shell.window(), &QDialog::finished, &app, &QCoreApplication::quit);

  // Ctrl-C and SIGTERM close the window the orderly way.
  std::atomic<bool> stop{false};
  std::thread signalWaiter([&] {
    if (WaitForShutdownSignal(stop) != 0) {
      QMetaObject::invokeMethod(
          &shell, [&shell] { shell.requestClose(); }, Qt::QueuedConnection);
    }
  });

  shell.start();
  // Monitoring runs already; the sign-in is asked over it.
  station->start();
  int result = app.exec();
  stop = true;
  signalWaiter.join();
  return result;
}

}  // namespace pelvaron
