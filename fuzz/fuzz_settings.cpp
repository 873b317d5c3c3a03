// The settings file: any content, loaded at start-up over the defaults, then
// read the ways the console reads the block: the link attempts, the program
// settings page with the protocol path (shown and accepted as shown), the COM
// port's name and device, and the protocol writer that appends to that path.

#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "core/control_characters.h"
#include "core/cp1251.h"
#include "fuzz_support.h"
#include "link/device_map.h"
#include "protocol/event_protocol.h"
#include "protocol/program_settings.h"
#include "protocol/settings.h"

using namespace pelvaron;

namespace {

// The settings file is the input itself, read where it lies; any other file
// (and the settings file once saved) lives in memory.
class SettingsFiles : public fuzz::MemoryFiles {
 public:
  SettingsFiles(const std::uint8_t* data, std::size_t size) : input_(data, size) {}

  int ReadPrefix(const std::string& path, std::size_t max, std::vector<std::uint8_t>& out) override {
    if (path != kSettingsFileName || Saved()) return MemoryFiles::ReadPrefix(path, max, out);
    const std::size_t n = input_.size() < max ? input_.size() : max;
    out.assign(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
    return 0;
  }
  int ReadPrefixInto(const std::string& path, std::span<std::uint8_t> out, std::size_t& n) override {
    if (path != kSettingsFileName || Saved()) return MemoryFiles::ReadPrefixInto(path, out, n);
    n = input_.size() < out.size() ? input_.size() : out.size();
    if (n > 0) std::memcpy(out.data(), input_.data(), n);
    return 0;
  }
  bool Exists(const std::string& path) override { return path == kSettingsFileName || MemoryFiles::Exists(path); }
  // Written since the start (the file read at start-up is the input).
  bool Saved() const { return files.count(kSettingsFileName) != 0; }

 private:
  std::span<const std::uint8_t> input_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SettingsFiles fs(data, size);
  fuzz::RecordingOperator op;

  ConsoleSettings settings = ConsoleSettings::Defaults();
  const ConsoleSettings defaults = settings;
  LoadSettings(settings, fs, op);
  // The file's first bytes over the defaults, but for a value out of its
  // range, which runs with its default; the file itself is left alone. Told
  // when it is no sound image.
  const std::size_t n = size < sizeof settings ? size : sizeof settings;
  ConsoleSettings read = defaults;
  if (n > 0) std::memcpy(&read, data, n);
  const std::string_view readPath = fuzz::FieldText(read.szProtocolPath);
  const bool pathSound = !readPath.empty() && readPath.size() < sizeof read.szProtocolPath &&
                         !FirstControlCharacter(Cp1251ToUtf8(readPath));
  const bool sound = size == sizeof settings && (read.bSaveProtocol == 0 || read.bSaveProtocol == 1) &&
                     pathSound && read.nComPort >= 0 && read.nComPort <= 5 &&
                     read.nLinkAttempts >= kMinLinkAttempts && read.nLinkAttempts <= kMaxLinkAttempts;
  FUZZ_CHECK(op.messages.size() == (sound ? 0u : 1u));
  op.messages.clear();
  FUZZ_CHECK(settings.bSaveProtocol == (read.bSaveProtocol == 0 ? 0 : 1));
  FUZZ_CHECK(fuzz::FieldText(settings.szProtocolPath) ==
             (pathSound ? readPath : std::string_view("protocol.txt")));
  FUZZ_CHECK(settings.nComPort == (read.nComPort >= 0 && read.nComPort <= 5 ? read.nComPort : 0));
  FUZZ_CHECK(settings.nLinkAttempts ==
             (read.nLinkAttempts >= kMinLinkAttempts && read.nLinkAttempts <= kMaxLinkAttempts
                  ? read.nLinkAttempts
                  : 12));
  FUZZ_CHECK(std::memcmp(settings.reserved, read.reserved, sizeof read.reserved) == 0);
  FUZZ_CHECK(!fs.Saved());

  const int attempts = settings.LinkAttempts();
  FUZZ_CHECK(attempts >= kMinLinkAttempts && attempts <= kMaxLinkAttempts);

  // The page shows the stored path as it is, every byte of it.
  const std::string_view pathBytes = fuzz::FieldText(settings.szProtocolPath);
  const ProgramSettingsValues page = FillProgramSettings(settings);
  FUZZ_CHECK(page.m_nComPort >= -1 && page.m_nComPort <= 5);
  FUZZ_CHECK(fuzz::ShowsField(page.m_strProtocolPath, pathBytes));
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
    if (settings.bSaveProtocol != 0) FUZZ_CHECK(protocolFiles.files.count(page.m_strProtocolPath) == 1);
  }

  // OK on the page as it was filled stores what the file held, when it can be stored.
  ConsoleSettings accepted = settings;
  int bReopenCom = 0;
  const bool stored = StoreProgramSettings(page, accepted, bReopenCom, fs, op);
  const bool storable = settings.nLinkAttempts >= kMinLinkAttempts &&
                        settings.nLinkAttempts <= kMaxLinkAttempts && pathBytes.size() < sizeof settings.szProtocolPath;
  FUZZ_CHECK(stored == storable);
  FUZZ_CHECK(op.messages.size() == (stored ? 0u : 1u));
  FUZZ_CHECK(fs.Saved() == stored);
  if (stored) {
    FUZZ_CHECK(bReopenCom == 1);
    FUZZ_CHECK(fuzz::FieldText(accepted.szProtocolPath) == pathBytes);
    FUZZ_CHECK(accepted.nLinkAttempts == settings.nLinkAttempts);
    FUZZ_CHECK(accepted.nComPort == settings.nComPort);
    FUZZ_CHECK(accepted.bSaveProtocol == (settings.bSaveProtocol != 0 ? 1 : 0));
    FUZZ_CHECK(fs.files[kSettingsFileName].size() == sizeof(ConsoleSettings));
  }
  FUZZ_CHECK(!op.badLine);
  return 0;
}
