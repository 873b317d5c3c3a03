#include "programs/real_ports.h"

#include "platform/qt_serial_port.h"
#include "platform/real_file_system.h"
#include "platform/system_clock.h"

namespace pelvaron {

ConsolePorts RealPorts() {
  ConsolePorts ports;
  ports.clock = std::make_unique<SystemClock>();
  ports.files = std::make_unique<RealFileSystem>();
  ports.port = std::make_unique<QtSerialPort>();
  return ports;
}

}  // namespace pelvaron
