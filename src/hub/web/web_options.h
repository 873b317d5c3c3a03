#pragma once

#include <string>
#include <vector>

#include "core/result.h"
#include "hub/web/web_server.h"

namespace pelvaron {

// The web console's options of pelvaron-hub, and the user commands.
struct WebOptions {
  std::string listen = "127.0.0.1:8080";
  std::string tlsCert, tlsKey, webRoot;
  std::string userVerb;  // "add" | "remove" | "passwd"; empty: no user command
  std::string userName;
  std::string role;
  std::string error;  // in English, as the help
};

// Takes the web's options out of args, leaving the hub's own.
WebOptions TakeWebOptions(std::vector<std::string>& args);
Result<WebSettings> WebSettingsFrom(const WebOptions& options);
std::string WebHelpText();
// Beside the program when installed (../share/pelvaron/web), else the
// source tree's.
std::string DefaultWebRoot();

}  // namespace pelvaron
