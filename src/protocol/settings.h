#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/file_system.h"
#include "core/operator.h"

namespace pelvaron {

static_assert(std::endian::native == std::endian::little, "stored images are little-endian");

inline constexpr char kSettingsFileName[] = "pelvaron.ini";
inline constexpr int kMinLinkAttempts = 1;
inline constexpr int kMaxLinkAttempts = 99;

// The console's own settings, stored byte for byte as the settings file.
struct ConsoleSettings {
  std::int32_t bSaveProtocol;
  char szProtocolPath[200];   // Windows-1251, zero-terminated unless it fills the field
  std::int8_t nComPort;       // 0..5 for COM1..COM6; read from the file unchecked
  std::int8_t nLinkAttempts;  // 1..99; read from the file unchecked
  std::uint8_t reserved[2];

  // bSaveProtocol 1, "protocol.txt", COM1, 12 attempts.
  static ConsoleSettings Defaults();

  // The protocol file's path in UTF-8, up to its zero or the field's end.
  std::string ProtocolPath() const;
  // Stores a UTF-8 path; false (and nothing changed) when it does not fit
  // Windows-1251 or its 200 bytes with the terminating zero.
  bool SetProtocolPath(const std::string& utf8);

  // nLinkAttempts made safe: below 1 counts as one attempt, above 99 as 99.
  int LinkAttempts() const;
};

static_assert(sizeof(ConsoleSettings) == 208);
static_assert(offsetof(ConsoleSettings, szProtocolPath) == 4);
static_assert(offsetof(ConsoleSettings, nComPort) == 204);
static_assert(offsetof(ConsoleSettings, nLinkAttempts) == 205);

// Reads the settings file into the block (at most 208 bytes over what it
// holds), or creates the file from the block when it is missing. Failures are
// shown as "<code> : System error(debugging info)." and the block keeps its values.
// A file that is not a sound image (of another size, or with values out of
// their range) is told, naming the file; the values out of range are
// replaced by their defaults and the file is left as it is.
void LoadSettings(ConsoleSettings& settings, FileSystem& fs, Operator& op);

// What is wrong with a block read from a file of fileSize bytes, for the
// operator, "" when nothing; every value out of its range is set to its default.
std::string RepairLoadedSettings(ConsoleSettings& settings, std::size_t fileSize);

// Replaces the settings file with the block, atomically: a crash or a full
// disk leaves the old file. Returns 0 or the system's error code (also shown).
int SaveSettings(const ConsoleSettings& settings, FileSystem& fs, Operator& op);

}  // namespace pelvaron
