#pragma once

#include <QApplication>
#include <string>

#include "app/options.h"
#include "objects/object_registry.h"

namespace pelvaron {

// Runs the console in its window until the window is closed: the console
// (with its clock, files and serial port) on a worker thread of its own, the
// window a view of it. `afterStartup`, when given, runs on the console's
// thread right after start-up.
int RunWindow(QApplication& app, const std::string& programName, const Options& options,
              void (*afterStartup)(ObjectRegistry&));

}  // namespace pelvaron
