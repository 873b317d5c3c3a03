#pragma once

#include <functional>

#include "app/console.h"
#include "core/operator.h"

namespace pelvaron {

// What a program runs beside the console on the console's own thread (the
// event store, the alarm queue): each hook is optional. The shells call them
// around start-up, after every tick and after shutdown.
struct ConsoleHooks {
  std::function<void(Console&, Operator&)> beforeStartup;  // made, not yet started: set the event sink here
  std::function<void(Console&)> afterTick;
  std::function<void(Console&)> afterShutdown;  // the closing line written
};

}  // namespace pelvaron
