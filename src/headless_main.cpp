// pelvaron-headless: the console without a window. Event log lines on
// stdout, messages on stderr; SIGINT or SIGTERM shut it down in order.
// It loads no window library, which keeps a station's memory small;
// `pelvaron --headless` runs it.
#include <QCoreApplication>

#include "app/options.h"
#include "platform/headless_shell.h"
#include "program.h"

int main(int argc, char** argv) {
  using namespace pelvaron;
  BlockShutdownSignals();
  const std::string programName = ProgramNameFrom(argv[0]);
  QCoreApplication app(argc, argv);
  Options options;
  if (int code = ReadCommandLine(app, programName, options); code >= 0) return code;
  std::unique_ptr<sim::Simulator> simulator;
  bool demoFresh = false;
  if (options.demo && StartDemo(programName, options, simulator, demoFresh) != 0) return 1;
  int result = RunHeadlessConsole(programName, options, demoFresh);
  if (simulator) simulator->Stop();
  return result;
}
