#pragma once

// What the console's two programs share: pelvaron (the window, which hands a
// run without a window to pelvaron-headless) and pelvaron-headless.

#include <string>
#include <vector>

#include "app/options.h"

namespace pelvaron {

// Parses the command line left after Qt took its own options (the program's
// name first). Returns the exit code when the program should end now (help
// printed, or a bad option told), or -1 to go on.
int ReadCommandLine(const std::vector<std::string>& args, const std::string& programName, Options& options);

// Why a console is not started in a folder another console holds, naming
// the folder and, where known, the other process; empty when it is free.
// The lock is held as long as the object lives.
class WorkingFolderLock;
std::string FolderTakenText(const WorkingFolderLock& lock);

// The console without a window until SIGINT or SIGTERM.
int RunHeadlessConsole(const std::string& programName, const Options& options, bool demoFresh);

// The whole run without a window: the command line, the demo when asked, the
// console until SIGINT or SIGTERM. Returns the exit code.
int RunWithoutWindow(const std::vector<std::string>& args, const std::string& programName);

}  // namespace pelvaron
