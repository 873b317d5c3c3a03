#include "protocol/program_settings.h"

#include <cctype>
#include <climits>

namespace pelvaron {

ProgramSettingsValues FillProgramSettings(const ConsoleSettings& settings) {
  ProgramSettingsValues page;
  page.m_bSaveProtocol = settings.bSaveProtocol != 0 ? 1 : 0;
  page.m_nComPort = (settings.nComPort >= 0 && settings.nComPort <= 5) ? settings.nComPort : -1;
  page.m_strProtocolPath = settings.ProtocolPath();
  page.m_strAttempts = std::to_string(settings.nLinkAttempts);
  return page;
}

int LeadingNumber(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
    value = value * 10 + (text[i++] - '0');
    if (value > INT_MAX) value = INT_MAX;  // saturate: far out of range either way
  }
  return static_cast<int>(negative ? -value : value);
}

bool StoreProgramSettings(const ProgramSettingsValues& page, ConsoleSettings& settings, int& bReopenCom,
                          FileSystem& fs, Operator& op) {
  settings.bSaveProtocol = page.m_bSaveProtocol;
  // A page that showed no port keeps the stored value as it was.
  if (page.m_nComPort >= 0) settings.nComPort = static_cast<std::int8_t>(page.m_nComPort);

  int attempts = LeadingNumber(page.m_strAttempts);
  if (attempts < kMinLinkAttempts || attempts > kMaxLinkAttempts) {
    op.ShowMessage({"Количество попыток связи должно быть от 01 до 99!", "Ошибка ввода", MessageIcon::Error});
    return false;
  }
  ConsoleSettings candidate = settings;
  if (!candidate.SetProtocolPath(page.m_strProtocolPath)) {
    op.ShowMessage(
        {"Путь к файлу протокола содержит символы, которые нельзя сохранить в файле настроек. "
         "Выберите другой путь.",
         "Ошибка ввода", MessageIcon::Error});
    return false;
  }
  candidate.nLinkAttempts = static_cast<std::int8_t>(attempts);
  settings = candidate;
  bReopenCom = 1;
  SaveSettings(settings, fs, op);
  return true;
}

}  // namespace pelvaron
