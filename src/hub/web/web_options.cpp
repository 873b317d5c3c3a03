#include "hub/web/web_options.h"

#include <unistd.h>

#include <charconv>
#include <filesystem>

#include "hub/web/user_store.h"

namespace pelvaron {

WebOptions TakeWebOptions(std::vector<std::string>& args) {
  WebOptions o;
  static const std::pair<const char*, std::string WebOptions::*> kValues[] = {
      {"--listen", &WebOptions::listen}, {"--tls-cert", &WebOptions::tlsCert}, {"--tls-key", &WebOptions::tlsKey},
      {"--web-root", &WebOptions::webRoot}, {"--role", &WebOptions::role},
  };
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool taken = false;
    for (const auto& [name, field] : kValues) {
      if (a != name && a.rfind(std::string(name) + "=", 0) != 0) continue;
      taken = true;
      if (a == name) {
        if (i + 1 >= args.size()) {
          o.error = std::string(name) + " needs a value (see --help)";
        } else {
          o.*field = args[++i];
        }
      } else {
        o.*field = a.substr(std::string(name).size() + 1);
      }
      if (o.error.empty() && (o.*field).empty()) o.error = std::string(name) + " needs a value that is not empty";
    }
    if (a == "--user") {
      taken = true;
      if (i + 2 >= args.size()) {
        o.error = "--user needs a command and a name: --user add|remove|passwd NAME";
      } else {
        o.userVerb = args[++i];
        o.userName = args[++i];
        if (o.userVerb != "add" && o.userVerb != "remove" && o.userVerb != "passwd")
          o.error = "--user " + o.userVerb + ": the command is add, remove or passwd";
        else if (!IsUserName(o.userName))
          o.error = "--user: the name must be 1 to 64 characters without control characters";
      }
    }
    if (!taken) rest.push_back(a);
  }
  if (o.error.empty() && o.tlsCert.empty() != o.tlsKey.empty())
    o.error = "--tls-cert and --tls-key go together";
  if (o.error.empty() && o.userVerb == "add" && !RoleNamed(o.role))
    o.error = "--user add needs --role viewer, operator or manager";
  if (o.error.empty() && !o.role.empty() && !RoleNamed(o.role))
    o.error = "--role " + o.role + ": the role is viewer, operator or manager";
  if (o.error.empty() && !o.role.empty() && o.userVerb != "add") o.error = "--role goes with --user add only";
  args = std::move(rest);
  return o;
}

Result<WebSettings> WebSettingsFrom(const WebOptions& options) {
  WebSettings settings;
  const std::size_t colon = options.listen.rfind(':');
  int port = -1;
  if (colon != std::string::npos) {
    const char* end = options.listen.data() + options.listen.size();
    auto [ptr, ec] = std::from_chars(options.listen.data() + colon + 1, end, port);
    if (ec != std::errc() || ptr != end) port = -1;
  }
  if (colon == std::string::npos || colon == 0 || port < 0 || port > 65535)
    return Problem{"--listen " + options.listen + ": give HOST:PORT, e.g. 127.0.0.1:8080 or 0.0.0.0:8443"};
  settings.host = options.listen.substr(0, colon);
  if (settings.host.size() > 2 && settings.host.front() == '[' && settings.host.back() == ']')
    settings.host = settings.host.substr(1, settings.host.size() - 2);
  settings.port = port;
  settings.certFile = options.tlsCert;
  settings.keyFile = options.tlsKey;
  settings.root = options.webRoot.empty() ? DefaultWebRoot() : options.webRoot;
  return settings;
}

std::string DefaultWebRoot() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const std::filesystem::path installed = exe.parent_path().parent_path() / "share/pelvaron/web";
    if (std::filesystem::is_directory(installed, ec)) return installed.string();
  }
#ifdef PELVARON_WEB_SOURCE_ROOT
  if (std::filesystem::is_directory(PELVARON_WEB_SOURCE_ROOT, ec)) return PELVARON_WEB_SOURCE_ROOT;
#endif
  return "/usr/share/pelvaron/web";
}

std::string WebHelpText() {
  return "\n"
         "The web console (the board, alarms, history) for the station's people:\n"
         "  --listen HOST:PORT  where it listens (default 127.0.0.1:8080)\n"
         "  --tls-cert FILE --tls-key FILE  serve HTTPS with this certificate and key\n"
         "  --web-root DIR      the page's files (default: the installed ones)\n"
         "\n"
         "Users of the web console (kept in the store; run in the hub's folder):\n"
         "  --user add NAME --role viewer|operator|manager\n"
         "  --user passwd NAME\n"
         "  --user remove NAME\n"
         "                      the password is asked on the terminal, or read from the\n"
         "                      first line of stdin when it is no terminal\n";
}

}  // namespace pelvaron
