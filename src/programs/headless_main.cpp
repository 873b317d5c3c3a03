// pelvaron-headless: the console without a window. Event log lines on
// stdout, messages on stderr; SIGINT, SIGTERM or SIGHUP shut it down in
// order. It loads no Qt at all, which keeps a station's memory small;
// `pelvaron --headless` runs it, and so does the systemd unit.
#include "app/options.h"
#include "platform/shutdown_signals.h"
#include "programs/program.h"

int main(int argc, char** argv) {
  using namespace pelvaron;
  BlockShutdownSignals();
  return RunWithoutWindow(std::vector<std::string>(argv, argv + argc), ProgramNameFrom(argv[0]));
}
