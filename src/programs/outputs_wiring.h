#pragma once

// The outputs the command line asks for (--events, --on-event, --mqtt), made
// in one place for both programs and the demo.

#include <memory>
#include <string>

#include "alarms/broker_desk.h"
#include "alarms/event_records.h"
#include "app/console_hooks.h"
#include "app/options.h"
#include "core/result.h"
#include "outputs/background_sink.h"
#include "outputs/object_states.h"
#include "outputs/report.h"

namespace pelvaron {

class ConsoleOutputs {
 public:
  // Makes and starts the outputs in the working folder. One that cannot work
  // yet (a file that cannot be opened, no MQTT library, unreadable
  // credentials, a broker that refuses) never stops the console: it tells the
  // cause once through report and tries again, while the events wait.
  static std::unique_ptr<ConsoleOutputs> Start(const Options& options, Report report);
  // Stops them after they have handed on what they hold (a few seconds at most).
  ~ConsoleOutputs();

  // Where the console's events go to reach them all (beside the store and the
  // alarm queue); nothing when none was asked for.
  EventSink* Sink() { return fanOut_.Empty() ? nullptr : &fanOut_; }
  // Where the console's object list goes after every refresh; nothing when no
  // output shows the objects' states.
  ObjectStatesSink* ObjectStates() { return objectStates_; }
  // The same, as a console program's hooks: set before start-up, on the
  // console's own thread.
  ConsoleHooks WithObjectStates(ConsoleHooks hooks);
  // The records' hooks with the alarm desk on the broker (its queue shown
  // there and, with --mqtt-commands, handled from there) and the object
  // list's states; records must outlive the console's run.
  ConsoleHooks Hooks(EventRecords& records);

 private:
  ConsoleOutputs() = default;

  EventFanOut fanOut_;
  std::unique_ptr<BackgroundSink> file_;
  std::unique_ptr<BackgroundSink> command_;
  std::unique_ptr<BackgroundSink> mqtt_;
  ObjectStatesSink* objectStates_ = nullptr;
  DeskChannel* deskChannel_ = nullptr;
  bool commands_ = false;
  Report report_;
  std::unique_ptr<BrokerDesk> brokerDesk_;  // the console's thread's own
};

// Right after the command line is read: paths given on it are made those of
// the folder it was given in (the demo then works in a folder of its own),
// and the broker's address, the station's name and the discovery prefix are
// checked against the topic rules. What is wrong is the command line's
// refusal, in English.
Result<> PrepareOutputOptions(Options& options);

// The station's name on its events and topics: --station, else the host's name.
std::string StationName(const Options& options);

// Reports as lines on stderr, "program: text", each in one write.
Report StderrReport(const std::string& programName);

}  // namespace pelvaron
