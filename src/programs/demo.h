#pragma once

// --demo: the console against a simulated receiver, in a folder of its own.

#include <memory>
#include <string>

#include "app/options.h"
#include "objects/object_registry.h"
#include "sim/simulator.h"

namespace pelvaron {

// Enters ./pelvaron-demo (made when missing) and starts the simulated
// receiver there; every COM port leads to it. demoFresh tells whether the
// folder had no objects file yet. Returns 0, or 1 after saying why it could
// not.
int StartDemo(const std::string& programName, Options& options, std::unique_ptr<sim::Simulator>& simulator,
              bool& demoFresh);

// The demo's objects, registered through the card's rules on a first run.
void RegisterDemoObjects(ObjectRegistry& registry);

}  // namespace pelvaron
