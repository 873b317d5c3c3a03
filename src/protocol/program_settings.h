#pragma once

#include <string>

#include "core/file_system.h"
#include "core/operator.h"
#include "protocol/settings.h"

namespace pelvaron {

inline constexpr std::size_t kMaxProtocolPathChars = 100;

// The program settings page's members.
struct ProgramSettingsValues {
  int m_bSaveProtocol = 0;
  int m_nComPort = -1;  // row of "COM1".."COM6", -1 for none
  std::string m_strProtocolPath;
  std::string m_strAttempts;

  bool operator==(const ProgramSettingsValues&) const = default;
};

// The page filled from the settings block.
ProgramSettingsValues FillProgramSettings(const ConsoleSettings& settings);

// The number at the start of a text: white space, an optional sign, digits
// up to the first non-digit; no digits give 0.
int LeadingNumber(const std::string& text);

// What OK on the page does. The switch and the port are taken at once; then
// the attempts are checked. Only a valid count takes the path, saves the file
// and requests the port reopen. Returns true when everything was stored.
bool StoreProgramSettings(const ProgramSettingsValues& page, ConsoleSettings& settings, int& bReopenCom,
                          FileSystem& fs, Operator& op);

}  // namespace pelvaron
