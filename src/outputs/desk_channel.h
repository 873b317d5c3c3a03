#pragma once

#include <string>
#include <vector>

namespace pelvaron {

// Where the alarm desk is seen and handled from outside the console (the
// broker): requests come in, their answers and the queue as it stands go
// out. Called on the console's thread; never waits.
class DeskChannel {
 public:
  struct Heard {
    std::string verb;  // the topic's last level
    std::string payload;
  };
  virtual ~DeskChannel() = default;
  // The requests heard since the last call, in the order they came.
  virtual std::vector<Heard> TakeRequests() = 0;
  // An answer to a request (command/result).
  virtual void Answer(std::string result) = 0;
  // The queue as it stands now (alarms, retained); only the latest counts.
  virtual void ShowAlarms(std::string alarms) = 0;
};

}  // namespace pelvaron
