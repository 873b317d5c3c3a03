// pelvaron-headless: the console without a window. Event log lines on
// stdout, messages on stderr; SIGINT or SIGTERM shut it down in order.
// It loads no window library, which keeps a station's memory small;
// `pelvaron --headless` runs it.
#include <QCoreApplication>

#include "app/options.h"
#include "platform/shutdown_signals.h"
#include "programs/program.h"

int main(int argc, char** argv) {
  using namespace pelvaron;
  BlockShutdownSignals();
  // The serial port adapter is Qt's, which wants an application object.
  QCoreApplication app(argc, argv);
  std::vector<std::string> args;
  for (const QString& a : app.arguments()) args.push_back(a.toStdString());
  return RunWithoutWindow(args, ProgramNameFrom(argv[0]));
}
