#pragma once

#include "app/console_ports.h"

namespace pelvaron {

// The console's real clock, files and serial port: the one place where the
// programs choose them. Call it on the thread that will use them (the serial
// port belongs to the thread that made it).
ConsolePorts RealPorts();

}  // namespace pelvaron
