#pragma once

#include "app/console_ports.h"

namespace pelvaron {

// The console's real clock, files and serial port: the one place where the
// programs choose them. Call it on the thread that will use them, in the
// station's folder: it also removes what interrupted saves left there.
ConsolePorts RealPorts();

}  // namespace pelvaron
