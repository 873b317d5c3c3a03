#include "app/options.h"

#include "core/control_characters.h"
#include "core/option_value.h"

namespace pelvaron {

namespace {

// The outputs' options; true when a was one of them (o.error tells a problem).
bool ParseOutputOption(const std::vector<std::string>& args, std::size_t& i, Options& o) {
  const std::string& a = args[i];
  std::string value;
  if (a == "--mqtt-user" || a == "--mqtt-password" || a.rfind("--mqtt-user=", 0) == 0 ||
      a.rfind("--mqtt-password=", 0) == 0) {
    o.error = a.substr(0, a.find('=')) +
              ": the broker's user and password are never taken from the command line (they would "
              "show in the process list); use --mqtt-credentials FILE or PELVARON_MQTT_USER and "
              "PELVARON_MQTT_PASSWORD";
    return true;
  }
  if (a == "--mqtt-discovery") {
    o.mqttDiscovery = "homeassistant";
    return true;
  }
  if (a == "--mqtt-commands") {
    o.mqttCommands = true;
    return true;
  }
  struct Text {
    const char* name;
    std::string Options::*field;
  };
  static const Text texts[] = {
      {"--events", &Options::eventsPath},   {"--on-event", &Options::onEvent},
      {"--mqtt", &Options::mqttUrl},         {"--mqtt-ca", &Options::mqttCa},
      {"--mqtt-credentials", &Options::mqttCredentials}, {"--station", &Options::station},
      {"--mqtt-discovery", &Options::mqttDiscovery},
  };
  for (const Text& t : texts) {
    if (!TakeOptionValue(args, i, t.name, value, o.error)) continue;
    if (o.error.empty() && value.empty()) o.error = std::string(t.name) + " needs a value that is not empty";
    // The station's name goes into every event, topic and line about it.
    const std::optional<char32_t> c = FirstControlCharacter(value);
    if (o.error.empty() && t.field == &Options::station && c) {
      o.error = "--station: " + ControlCharacterRefusal("Имя станции", *c);
    }
    o.*t.field = value;
    return true;
  }
  if (TakeOptionValue(args, i, "--on-event-timeout", value, o.error)) {
    int seconds = 0;
    for (char c : value) {
      if (c < '0' || c > '9' || seconds > 100000) {
        seconds = -1;
        break;
      }
      seconds = seconds * 10 + (c - '0');
    }
    if (o.error.empty() && (seconds < 1 || seconds > 3600)) {
      o.error = "--on-event-timeout takes a number of seconds from 1 to 3600, not " + value;
    }
    o.onEventTimeoutMs = seconds * 1000;
    return true;
  }
  return false;
}

// Options that only make sense with another one.
void CheckOutputOptions(Options& o) {
  if (!o.error.empty() || !o.mqttUrl.empty()) return;
  if (!o.mqttCa.empty()) o.error = "--mqtt-ca needs --mqtt";
  if (!o.mqttCredentials.empty()) o.error = "--mqtt-credentials needs --mqtt";
  if (!o.mqttDiscovery.empty()) o.error = "--mqtt-discovery needs --mqtt";
  if (o.mqttCommands) o.error = "--mqtt-commands needs --mqtt";
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& args) {
  Options o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (ParseOutputOption(args, i, o)) {
      if (!o.error.empty()) return o;
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--headless") {
      o.headless = true;
    } else if (a == "--demo") {
      o.demo = true;
    } else if (a == "--alarm-sound") {
      o.alarmSound = true;
    } else if (a == "--alarm-beep") {
      o.alarmBeep = true;
    } else if (a == "--tick-ms") {
      if (i + 1 >= args.size()) {
        o.error = "--tick-ms needs a value in milliseconds";
        return o;
      }
      const std::string& value = args[++i];
      int ms = 0;
      for (char c : value) {
        if (c < '0' || c > '9' || ms > 100000) {
          ms = -1;
          break;
        }
        ms = ms * 10 + (c - '0');
      }
      if (ms < 10 || ms > 10000) {
        o.error = "--tick-ms takes a number of milliseconds from 10 to 10000, not " + value;
        return o;
      }
      o.tickMs = ms;
    } else if (a == "--device" || a.rfind("--device=", 0) == 0) {
      std::string value;
      if (a == "--device") {
        if (i + 1 >= args.size()) {
          o.error = "--device needs a value: --device COMn=PATH";
          return o;
        }
        value = args[++i];
      } else {
        value = a.substr(9);
      }
      std::string problem = o.devices.Add(value);
      if (!problem.empty()) {
        o.error = problem;
        return o;
      }
    } else {
      o.error = "unknown option: " + a + " (see --help)";
      return o;
    }
  }
  CheckOutputOptions(o);
  return o;
}

std::string ProgramNameFrom(const std::string& argv0) {
  auto slash = argv0.find_last_of('/');
  std::string name = slash == std::string::npos ? argv0 : argv0.substr(slash + 1);
  return name.empty() ? "pelvaron" : name;
}

std::string UsageText(const std::string& programName) {
  // pelvaron-headless is a program of its own (the service runs it), so its
  // help describes it; pelvaron --headless hands over to it under pelvaron's name.
  const bool headless = programName.ends_with("-headless");
  std::string text = "Usage: " + programName + " [options]\n\n";
  if (headless) {
    text +=
        "The operator's console of an alarm central-monitoring station without a\n"
        "window, as a program that loads no window library at all: what\n"
        "pelvaron --headless runs and what the pelvaron systemd service starts.\n"
        "It polls the receiver on the configured COM port every half second, prints\n"
        "the event log lines on stdout (UTF-8) and the operator's messages on stderr,\n"
        "writes the protocol file and supervises the registered objects. SIGINT,\n"
        "SIGTERM or SIGHUP end it in order (the closing protocol line is written);\n"
        "under systemd it reports when it is ready and pings the watchdog.\n";
  } else {
    text +=
        "The operator's console of an alarm central-monitoring station: polls the\n"
        "receiver on the configured COM port every half second, writes the event\n"
        "log and the protocol file, and supervises the registered objects.\n";
  }
  text +=
      "It works in the current folder: pelvaron.ini (settings), objects.stt\n"
      "(objects), the protocol file (protocol.txt unless configured), the event\n"
      "store events.sqlite and the others its man page lists.\n"
      "\n"
      "Options:\n";
  if (headless) {
    text +=
        "  --headless          accepted as pelvaron takes it; changes nothing here\n"
        "  --demo              run against a built-in simulated receiver with lively\n"
        "                      traffic, in the folder ./pelvaron-demo (made when\n"
        "                      missing), never in a real station's files\n";
  } else {
    text +=
        "  --headless          no window: event log lines on stdout (UTF-8), operator\n"
        "                      messages on stderr; Ctrl-C or SIGTERM shuts it down\n"
        "                      in order (the closing protocol line is written)\n"
        "  --demo              run against a built-in simulated receiver with lively\n"
        "                      traffic, in the folder ./pelvaron-demo (made when\n"
        "                      missing), never in a real station's files; falls back\n"
        "                      to --headless where there is no display\n";
  }
  text +=
      "  --device COMn=PATH  the device behind a COM port name (repeatable);\n"
      "                      without it COM1..COM6 are /dev/ttyS0../dev/ttyS5\n"
      "  --alarm-sound       sound the overdue alarm by playing alarm.wav from the\n"
      "                      working folder (every third second while an object\n"
      "                      under control is overdue)\n"
      "  --alarm-beep        sound the overdue alarm as four tones\n"
      "  --tick-ms N         the supervision tick's period in ms (default 500);\n"
      "                      for tests that must see a lost link within seconds\n"
      "\n"
      "Sending events elsewhere (every event as one JSON object: docs/events.md):\n"
      "  --events PATH       append each event as a line of JSON to PATH;\n"
      "                      - for stdout (the event log lines then go to stderr)\n"
      "  --on-event COMMAND  run COMMAND with /bin/sh for each event, the event's\n"
      "                      JSON on its stdin and PELVARON_KIND, PELVARON_ADDRESS,\n"
      "                      PELVARON_CODE... in its environment; one at a time\n"
      "  --on-event-timeout S  end a run of the command after S seconds (default 10)\n"
      "  --mqtt URL          publish to an MQTT broker: mqtt://HOST[:PORT] or\n"
      "                      mqtts://HOST[:PORT]; events wait on disk in\n"
      "                      ./mqtt-queue while the broker is away\n"
      "  --mqtt-ca FILE      the CA certificate for mqtts:// (default: the system's)\n"
      "  --mqtt-credentials FILE  the broker's user name on the first line of FILE,\n"
      "                      its password on the second; or PELVARON_MQTT_USER and\n"
      "                      PELVARON_MQTT_PASSWORD (never on the command line)\n"
      "  --mqtt-discovery[=PREFIX]  discovery messages (prefix homeassistant) so\n"
      "                      home-automation software shows the link, the line,\n"
      "                      the enclosure and each object as sensors\n"
      "  --mqtt-commands     take requests to acknowledge, act on and close alarms\n"
      "                      from the broker (pelvaron/STATION/command/...), each\n"
      "                      done once and recorded with the operator who asked\n"
      "  --station NAME      this console's name in events and topics (default:\n"
      "                      the host name)\n"
      "  --help              this text\n"
      "  --version           the program's version\n";
  return text;
}

}  // namespace pelvaron
