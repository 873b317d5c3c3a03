// The settings file: any content, loaded at start-up over the defaults, then
// read the ways the console reads the block: the protocol path, the link
// attempts, the program settings page (shown and accepted as shown), the COM
// port's name and device, and the protocol writer that appends to that path.

#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "link/device_map.h"
#include "protocol/event_protocol.h"
#include "protocol/program_settings.h"
#include "protocol/settings.h"

using namespace pelvaron;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::MemoryFiles fs;
  fuzz::RecordingOperator op;
  fs.files[kSettingsFileName].assign(data, data + size);

  ConsoleSettings settings = ConsoleSettings::Defaults();
  const ConsoleSettings defaults = settings;
  LoadSettings(settings, fs, op);
  FUZZ_CHECK(op.messages.empty());
  // The file's first bytes over the defaults; the file itself is left alone.
  const std::size_t n = size < sizeof settings ? size : sizeof settings;
  const auto* block = reinterpret_cast<const std::uint8_t*>(&settings);
  FUZZ_CHECK(n == 0 || std::memcmp(block, data, n) == 0);
  FUZZ_CHECK(
      std::memcmp(block + n, reinterpret_cast<const std::uint8_t*>(&defaults) + n, sizeof settings - n) == 0);
  FUZZ_CHECK(fs.files[kSettingsFileName].size() == size);

  const std::string path = settings.ProtocolPath();
  const std::optional<std::string> pathBytes = Utf8ToCp1251(path);
  FUZZ_CHECK(pathBytes && *pathBytes == FixedTextView(settings.szProtocolPath));

  const int attempts = settings.LinkAttempts();
  FUZZ_CHECK(attempts >= kMinLinkAttempts && attempts <= kMaxLinkAttempts);

  const ProgramSettingsValues page = FillProgramSettings(settings);
  FUZZ_CHECK(page.m_nComPort >= -1 && page.m_nComPort <= 5);
  FUZZ_CHECK(page.m_strProtocolPath == path);
  FUZZ_CHECK(LeadingNumber(page.m_strAttempts) == settings.nLinkAttempts);

  const std::string comName = DeviceMap::ComName(settings.nComPort);
  FUZZ_CHECK(comName.rfind("COM", 0) == 0);
  const DeviceMap devices;
  const bool hasDevice = devices.DevicePath(comName).has_value();
  FUZZ_CHECK(hasDevice == (settings.nComPort >= 0 && settings.nComPort <= 5));

  // Lines go to the path the file named, whatever it is.
  {
    fuzz::FixedClock clock;
    fuzz::MemoryFiles protocolFiles;
    EventProtocol protocol(settings, clock, protocolFiles, op);
    FUZZ_CHECK(protocol.AppendStampedLine("Включение программы") == 0);
    FUZZ_CHECK(protocol.AppendPlainLine(" ") == 0);
    FUZZ_CHECK(protocolFiles.files.size() == (settings.bSaveProtocol != 0 ? 1u : 0u));
  }

  // OK on the page as it was filled stores what the file held, when it can be stored.
  ConsoleSettings accepted = settings;
  int bReopenCom = 0;
  const bool stored = StoreProgramSettings(page, accepted, bReopenCom, fs, op);
  const bool storable = settings.nLinkAttempts >= kMinLinkAttempts &&
                        settings.nLinkAttempts <= kMaxLinkAttempts && pathBytes->size() < 200;
  FUZZ_CHECK(stored == storable);
  FUZZ_CHECK(op.messages.size() == (stored ? 0u : 1u));
  if (stored) {
    FUZZ_CHECK(bReopenCom == 1);
    FUZZ_CHECK(accepted.ProtocolPath() == path);
    FUZZ_CHECK(accepted.nLinkAttempts == settings.nLinkAttempts);
    FUZZ_CHECK(accepted.nComPort == settings.nComPort);
    FUZZ_CHECK(accepted.bSaveProtocol == (settings.bSaveProtocol != 0 ? 1 : 0));
    FUZZ_CHECK(fs.files[kSettingsFileName].size() == sizeof(ConsoleSettings));
  }
  FUZZ_CHECK(!op.badLine);
  return 0;
}
