#include "programs/real_ports.h"

#include "events/event_sequence.h"
#include "objects/object_table.h"
#include "platform/posix_serial_port.h"
#include "platform/real_file_system.h"
#include "platform/system_clock.h"
#include "protocol/settings.h"

namespace pelvaron {

ConsolePorts RealPorts() {
  ConsolePorts ports;
  ports.clock = std::make_unique<SystemClock>();
  auto files = std::make_unique<RealFileSystem>();
  // What a save cut short by a crash or a power cut left beside the files.
  for (const char* name : {kSettingsFileName, kObjectsFileName, kEventSequenceFileName}) {
    files->RemoveInterruptedSave(name);
  }
  ports.files = std::move(files);
  ports.port = std::make_unique<PosixSerialPort>();
  return ports;
}

}  // namespace pelvaron
