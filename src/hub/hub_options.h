#pragma once

#include <string>
#include <vector>

#include "hub/hub.h"

namespace pelvaron {

struct HubOptions {
  bool help = false;
  bool version = false;
  bool picture = false;  // print the picture once and end
  std::string mqttUrl;
  std::string mqttCa;
  std::string mqttCredentials;
  std::string clientId;
  std::string store;
  std::string error;  // in English, as the help
};

HubOptions ParseHubOptions(const std::vector<std::string>& args);
std::string HubHelpText();

// The settings for the hub from checked options (the broker's user from the
// environment when no credentials file is given); the refusal in English.
Result<HubSettings> HubSettingsFrom(const HubOptions& options);

}  // namespace pelvaron
