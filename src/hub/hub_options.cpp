#include "hub/hub_options.h"

#include "core/option_value.h"

namespace pelvaron {

namespace {

// As the console's options, and never empty.
bool TakeValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name, std::string& value,
               std::string& error) {
  if (!TakeOptionValue(args, i, name, value, error)) return false;
  if (error.empty() && value.empty()) error = name + " needs a value that is not empty";
  return true;
}

}  // namespace

HubOptions ParseHubOptions(const std::vector<std::string>& args) {
  HubOptions o;
  static const std::pair<const char*, std::string HubOptions::*> kValues[] = {
      {"--mqtt", &HubOptions::mqttUrl},
      {"--mqtt-ca", &HubOptions::mqttCa},
      {"--mqtt-credentials", &HubOptions::mqttCredentials},
      {"--mqtt-client-id", &HubOptions::clientId},
      {"--store", &HubOptions::store},
  };
  for (std::size_t i = 0; i < args.size() && o.error.empty(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      o.help = true;
      continue;
    }
    if (a == "--version") {
      o.version = true;
      continue;
    }
    if (a == "--picture") {
      o.picture = true;
      continue;
    }
    if (a.rfind("--mqtt-user", 0) == 0 || a.rfind("--mqtt-password", 0) == 0) {
      o.error = a.substr(0, a.find('=')) +
                ": the broker's user and password are never taken from the command line (they would show in "
                "the process list); use --mqtt-credentials FILE or PELVARON_MQTT_USER and PELVARON_MQTT_PASSWORD";
      break;
    }
    bool taken = false;
    for (const auto& [name, field] : kValues) {
      std::string value;
      if (TakeValue(args, i, name, value, o.error)) {
        o.*field = value;
        taken = true;
        break;
      }
    }
    if (!taken) o.error = "unknown option " + a + " (see --help)";
  }
  if (o.error.empty() && !o.help && !o.version && o.mqttUrl.empty()) o.error = "--mqtt URL is needed (see --help)";
  return o;
}

Result<HubSettings> HubSettingsFrom(const HubOptions& options) {
  HubSettings settings;
  Result<MqttUrl> url = ParseMqttUrl(options.mqttUrl);
  if (!url) return url.problem();
  settings.mqtt.url = *url;
  settings.mqtt.caFile = options.mqttCa;
  settings.mqtt.credentialsFile = options.mqttCredentials;
  if (options.mqttCredentials.empty()) {
    if (Result<MqttCredentials> env = ReadMqttCredentials({})) {
      settings.mqtt.user = env->user;
      settings.mqtt.password = env->password;
    }
  }
  settings.clientId = options.clientId.empty() ? DefaultHubClientId() : options.clientId;
  if (IsPostgresUrl(options.store)) {
    const std::size_t start = options.store.find("://") + 3;
    const std::size_t at = options.store.find('@', start);
    const std::size_t end = options.store.find_first_of("/?", start);
    if (at != std::string::npos && at < end && options.store.find(':', start) < at)
      return Problem{"--store: a password in the URL would show in the process list; put it in ~/.pgpass or "
                     "PGPASSWORD"};
  }
  if (!options.store.empty()) settings.store = options.store;
  return settings;
}

std::string HubHelpText() {
  return "Usage: pelvaron-hub --mqtt URL [options]\n"
         "Joins the consoles of a station through an MQTT broker: keeps the station's\n"
         "picture (each console, its link, line, enclosure, objects, alarms and plans)\n"
         "and stores every console's events, each once, in one store. Run it in its\n"
         "own folder: hub.sqlite and picture.json are kept there.\n"
         "\n"
         "  --mqtt URL          the broker: mqtt://HOST[:PORT] or mqtts://HOST[:PORT]\n"
         "  --mqtt-ca FILE      the CA certificate for mqtts:// (default: the system's)\n"
         "  --mqtt-credentials FILE  the broker's user name on the first line of FILE,\n"
         "                      its password on the second; or PELVARON_MQTT_USER and\n"
         "                      PELVARON_MQTT_PASSWORD (never on the command line)\n"
         "  --mqtt-client-id ID the session's client id (default pelvaron-hub-HOSTNAME);\n"
         "                      the broker keeps events for it while the hub is away\n"
         "  --store PATH|URL    an SQLite file (default ./hub.sqlite) or a PostgreSQL\n"
         "                      database: postgresql://USER@HOST[:PORT]/DB (the password\n"
         "                      from ~/.pgpass or PGPASSWORD, never in the URL)\n"
         "  --picture           print the station's picture as JSON once and end\n"
         "  --help              this text\n"
         "  --version           the program's version\n";
}

}  // namespace pelvaron
