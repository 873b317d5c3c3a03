#pragma once

#include <functional>
#include <memory>

#include "core/clock.h"
#include "core/file_system.h"
#include "core/serial_port.h"

namespace pelvaron {

// What a console runs on: its clock, its files and its serial port. The
// console borrows them; whoever made them keeps them for as long as it runs.
struct ConsolePorts {
  std::unique_ptr<Clock> clock;
  std::unique_ptr<FileSystem> files;
  std::unique_ptr<SerialPort> port;
};

// Makes the ports, on the thread that will use them.
using PortsFactory = std::function<ConsolePorts()>;

}  // namespace pelvaron
