#include "protocol/settings.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "core/control_characters.h"
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

std::string RepairLoadedSettings(ConsoleSettings& s, std::size_t fileSize) {
  const ConsoleSettings defaults = ConsoleSettings::Defaults();
  std::string problems;
  auto add = [&problems](const std::string& what) { problems += (problems.empty() ? "" : "; ") + what; };
  if (fileSize < sizeof s) {
    add("размер " + std::to_string(fileSize) + " байт вместо " + std::to_string(sizeof s) +
        " (недостающее взято по умолчанию)");
  } else if (fileSize > sizeof s) {
    add("размер больше " + std::to_string(sizeof s) + " байт (прочитаны первые " + std::to_string(sizeof s) +
        ")");
  }
  if (s.bSaveProtocol != 0 && s.bSaveProtocol != 1) {
    add("признак записи протокола " + std::to_string(s.bSaveProtocol) +
        " вместо 0 или 1 (протокол записывается)");
    s.bSaveProtocol = 1;
  }
  const std::string_view path = FixedTextView(s.szProtocolPath);
  const std::optional<char32_t> control = FirstControlCharacter(Cp1251ToUtf8(path));
  if (path.empty() || path.size() == sizeof s.szProtocolPath || control) {
    add(std::string("путь к файлу протокола ") +
        (path.empty() ? "пуст"
         : control ? "содержит управляющий символ " + ControlCharacterMark(*control)
                   : std::string("без завершающего нуля")) +
        " (взят " + defaults.ProtocolPath() + ")");
    std::memcpy(s.szProtocolPath, defaults.szProtocolPath, sizeof s.szProtocolPath);
  }
  if (s.nComPort < 0 || s.nComPort > 5) {
    add("номер порта " + std::to_string(s.nComPort) + " вне 0..5 (взят COM1)");
    s.nComPort = defaults.nComPort;
  }
  if (s.nLinkAttempts < kMinLinkAttempts || s.nLinkAttempts > kMaxLinkAttempts) {
    add("число попыток " + std::to_string(s.nLinkAttempts) + " вне 1..99 (взято " +
        std::to_string(defaults.nLinkAttempts) + ")");
    s.nLinkAttempts = defaults.nLinkAttempts;
  }
  return problems;
}

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
    // A byte more than the block tells a longer file. A short file leaves
    // the rest of the block as it was, an unreadable one all of it.
    std::vector<std::uint8_t> bytes;
    int err = fs.ReadPrefix(kSettingsFileName, sizeof settings + 1, bytes);
    if (err != 0) {
      // Unreadable: keep the file as it is and run with what the block holds.
      ShowSystemError(op, err);
      return;
    }
    std::memcpy(&settings, bytes.data(), std::min(bytes.size(), sizeof settings));
    const std::string problems = RepairLoadedSettings(settings, bytes.size());
    if (!problems.empty()) {
      op.ShowMessage({std::string("Файл настроек ") + kSettingsFileName + " повреждён: " + problems +
                          ". Файл не изменён: сохраните настройки программы (Свойства → Настройки "
                          "программы) или удалите файл, и он будет записан заново.",
                      "", MessageIcon::Exclamation});
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
