#pragma once

// The outputs the command line asks for (--events, --on-event, --mqtt), made
// in one place for both programs and the demo.

#include <memory>
#include <string>

#include "app/options.h"
#include "outputs/background_sink.h"
#include "outputs/report.h"

namespace pelvaron {

class ConsoleOutputs {
 public:
  // Makes and starts the outputs in the working folder. Nothing, and why in
  // *error, when one of them cannot start (a file that cannot be opened, no
  // MQTT library, unreadable credentials): asked for, it must work.
  static std::unique_ptr<ConsoleOutputs> Start(const Options& options, Report report, std::string* error);
  // Stops them after they have handed on what they hold (a few seconds at most).
  ~ConsoleOutputs();

  // Where the console's events go to reach them all (beside the store and the
  // alarm queue); nothing when none was asked for.
  EventSink* Sink() { return fanOut_.Empty() ? nullptr : &fanOut_; }

 private:
  ConsoleOutputs() = default;

  EventFanOut fanOut_;
  std::unique_ptr<BackgroundSink> file_;
  std::unique_ptr<BackgroundSink> command_;
  std::unique_ptr<BackgroundSink> mqtt_;
};

// Right after the command line is read: paths given on it are made those of
// the folder it was given in (the demo then works in a folder of its own),
// and the broker's address is checked. Returns what is wrong, or nothing.
std::string PrepareOutputOptions(Options& options);

// The station's name on its events and topics: --station, else the host's name.
std::string StationName(const Options& options);

// The broker's user and password: from the file (user on the first line,
// password on the second), else from PELVARON_MQTT_USER and
// PELVARON_MQTT_PASSWORD. Returns why the file could not be read, or nothing.
std::string ReadMqttCredentials(const std::string& file, std::string& user, std::string& password);

// Reports as lines on stderr, "program: text", each in one write.
Report StderrReport(const std::string& programName);

}  // namespace pelvaron
