#pragma once

#include <string>
#include <vector>

#include "link/device_map.h"

namespace pelvaron {

// What the command line asks of the console.
struct Options {
  bool help = false;
  bool version = false;
  bool headless = false;
  bool demo = false;
  bool alarmSound = false;
  bool alarmBeep = false;
  int tickMs = 500;  // the supervision tick's period; shorter only for tests
  DeviceMap devices;
  std::string error;  // empty when the command line was understood
};

Options ParseOptions(const std::vector<std::string>& args);

// The base name of the executable, the title of boxes that give none of their own.
std::string ProgramNameFrom(const std::string& argv0);

// What --help prints.
std::string UsageText(const std::string& programName);

}  // namespace pelvaron
