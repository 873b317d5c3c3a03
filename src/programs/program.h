#pragma once

// What the console's two programs share: pelvaron (the window, which hands a
// run without a window to pelvaron-headless) and pelvaron-headless.

#include <memory>
#include <string>
#include <vector>

#include "app/options.h"
#include "objects/object_registry.h"
#include "sim/simulator.h"

namespace pelvaron {

// Parses the command line left after Qt took its own options (the program's
// name first). Returns the exit code when the program should end now (help
// printed, or a bad option told), or -1 to go on.
int ReadCommandLine(const std::vector<std::string>& args, const std::string& programName, Options& options);

// --demo: enters ./pelvaron-demo (made when missing) and starts the simulated
// receiver there; every COM port leads to it. Returns 0, or 1 after saying
// why it could not.
int StartDemo(const std::string& programName, Options& options, std::unique_ptr<sim::Simulator>& simulator,
              bool& demoFresh);

// The demo's objects, registered through the card's rules on a first run.
void RegisterDemoObjects(ObjectRegistry& registry);

// The console without a window until SIGINT or SIGTERM.
int RunHeadlessConsole(const std::string& programName, const Options& options, bool demoFresh);

// The whole run without a window: the command line, the demo when asked, the
// console until SIGINT or SIGTERM. Returns the exit code.
int RunWithoutWindow(const std::vector<std::string>& args, const std::string& programName);

}  // namespace pelvaron
