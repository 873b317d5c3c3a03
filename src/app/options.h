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
  // Where events go besides the window and the protocol file.
  std::string eventsPath;        // --events PATH: JSON Lines; "-" for stdout
  std::string onEvent;           // --on-event COMMAND
  int onEventTimeoutMs = 10000;  // --on-event-timeout SECONDS
  std::string mqttUrl;           // --mqtt mqtt://HOST[:PORT] or mqtts://...
  std::string mqttCa;            // --mqtt-ca FILE
  std::string mqttCredentials;   // --mqtt-credentials FILE: user, then password
  std::string mqttDiscovery;     // --mqtt-discovery[=PREFIX]: the prefix; empty: off
  bool mqttCommands = false;     // --mqtt-commands: the alarm desk handled through the broker
  std::string station;           // --station NAME; empty: the host name
  std::string error;  // empty when the command line was understood
};

Options ParseOptions(const std::vector<std::string>& args);

// The base name of the executable, the title of boxes that give none of their own.
std::string ProgramNameFrom(const std::string& argv0);

// What --help prints.
std::string UsageText(const std::string& programName);

}  // namespace pelvaron
