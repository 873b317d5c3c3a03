#pragma once

#include <sys/types.h>
#include <string>

namespace pelvaron {

// The audible overdue alarm: alarm.wav from the working folder and/or four
// tones (1000, 1500, 1000, 1500 Hz, 300 ms each), played by the system's
// sound player without blocking the caller. A sound still playing is not
// started again. When sound cannot be played, Play returns one message saying
// why and the alarm stays silent for the rest of the run, so that a machine
// without sound is told once, not every third second.
class AlarmPlayer {
 public:
  ~AlarmPlayer();
  std::string Play(bool playFile, bool beep);

 private:
  // True while a sound plays; a player that ended in failure sets problem.
  bool Busy(std::string& problem);
  std::string Start(const std::string& path);
  std::string TonesFile();

  pid_t child_ = -1;
  bool disabled_ = false;
  std::string tones_;
};

}  // namespace pelvaron
