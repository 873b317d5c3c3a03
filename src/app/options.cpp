#include "app/options.h"

namespace pelvaron {

Options ParseOptions(const std::vector<std::string>& args) {
  Options o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
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
  return o;
}

std::string ProgramNameFrom(const std::string& argv0) {
  auto slash = argv0.find_last_of('/');
  std::string name = slash == std::string::npos ? argv0 : argv0.substr(slash + 1);
  return name.empty() ? "pelvaron" : name;
}

std::string UsageText(const std::string& programName) {
  return "Usage: " + programName +
         " [options]\n"
         "\n"
         "The operator's console of an alarm central-monitoring station: polls the\n"
         "receiver on the configured COM port every half second, writes the event\n"
         "log and the protocol file, and supervises the registered objects.\n"
         "It works in the current folder: pelvaron.ini (settings), objects.stt\n"
         "(objects) and the protocol file (protocol.txt unless configured).\n"
         "\n"
         "Options:\n"
         "  --headless          no window: event log lines on stdout (UTF-8), operator\n"
         "                      messages on stderr; Ctrl-C or SIGTERM shuts it down\n"
         "                      in order (the closing protocol line is written)\n"
         "  --demo              run against a built-in simulated receiver with lively\n"
         "                      traffic, in the folder ./pelvaron-demo (made when\n"
         "                      missing), never in a real station's files; falls back\n"
         "                      to --headless where there is no display\n"
         "  --device COMn=PATH  the device behind a COM port name (repeatable);\n"
         "                      without it COM1..COM6 are /dev/ttyS0../dev/ttyS5\n"
         "  --alarm-sound       sound the overdue alarm by playing alarm.wav from the\n"
         "                      working folder (every third second while an object\n"
         "                      under control is overdue)\n"
         "  --alarm-beep        sound the overdue alarm as four tones\n"
         "  --tick-ms N         the supervision tick's period in ms (default 500);\n"
         "                      for tests that must see a lost link within seconds\n"
         "  --help              this text\n"
         "  --version           the program's version\n";
}

}  // namespace pelvaron
