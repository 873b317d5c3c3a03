#include "protocol/settings.h"

#include <cstring>

#include "core/cp1251.h"
#include "core/fixed_text.h"

namespace pelvaron {
namespace {

std::span<const std::uint8_t> Image(const ConsoleSettings& s) {
  return {reinterpret_cast<const std::uint8_t*>(&s), sizeof s};
}

void ShowSystemError(Operator& op, int code) {
  op.ShowMessage({std::to_string(code) + " : System error(debugging info).", "", MessageIcon::None});
}

}  // namespace

ConsoleSettings ConsoleSettings::Defaults() {
  ConsoleSettings s;
  std::memset(&s, 0, sizeof s);
  s.bSaveProtocol = 1;
  WriteFixedText(s.szProtocolPath, "protocol.txt");
  s.nComPort = 0;
  s.nLinkAttempts = 12;
  return s;
}

std::string ConsoleSettings::ProtocolPath() const {
  return Cp1251ToUtf8(FixedTextView(szProtocolPath));
}

bool ConsoleSettings::SetProtocolPath(const std::string& utf8) {
  auto cp = Utf8ToCp1251(utf8);
  if (!cp || cp->size() >= sizeof szProtocolPath || cp->find('\0') != std::string::npos) return false;
  WriteFixedText(szProtocolPath, *cp);
  return true;
}

int ConsoleSettings::LinkAttempts() const {
  if (nLinkAttempts < kMinLinkAttempts) return kMinLinkAttempts;
  if (nLinkAttempts > kMaxLinkAttempts) return kMaxLinkAttempts;
  return nLinkAttempts;
}

void LoadSettings(ConsoleSettings& settings, FileSystem& fs, Operator& op) {
  if (fs.Exists(kSettingsFileName)) {
    // Straight into the block: a short file leaves the rest as it was, an
    // unreadable one all of it.
    std::size_t n = 0;
    int err = fs.ReadPrefixInto(kSettingsFileName, {reinterpret_cast<std::uint8_t*>(&settings), sizeof settings}, n);
    if (err != 0) {
      // Unreadable: keep the file as it is and run with what the block holds.
      ShowSystemError(op, err);
    }
    return;
  }
  int err = fs.ReplaceFile(kSettingsFileName, Image(settings));
  if (err != 0) ShowSystemError(op, err);
}

int SaveSettings(const ConsoleSettings& settings, FileSystem& fs, Operator& op) {
  int err = fs.ReplaceFile(kSettingsFileName, Image(settings));
  if (err != 0) ShowSystemError(op, err);
  return err;
}

}  // namespace pelvaron
