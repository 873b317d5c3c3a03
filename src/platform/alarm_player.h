#pragma once

#include <sys/types.h>

#include <string>

#include "core/sound_player.h"
#include "core/unique_fd.h"

namespace pelvaron {

// The audible alarm played by the system's sound player (aplay): alarm.wav
// from the working folder and/or four tones (1000, 1500, 1000, 1500 Hz,
// 300 ms each), without blocking the caller. What the player says on its
// error output becomes the cause of a failure.
class AlarmPlayer : public SoundPlayer {
 public:
  // program: the player to run, "aplay" unless a test names another.
  explicit AlarmPlayer(std::string program = "aplay");
  ~AlarmPlayer() override;
  AlarmPlayer(const AlarmPlayer&) = delete;
  AlarmPlayer& operator=(const AlarmPlayer&) = delete;

  Result<> Start(bool playFile, bool beep) override;
  Result<bool> Playing() override;

 private:
  Result<> Spawn(const std::string& path);
  // The tones as a WAV file of the console's own, made once.
  Result<std::string> TonesFile();

  std::string program_;
  pid_t child_ = -1;
  UniqueFd errors_;  // the player's error output
  std::string tones_;
};

}  // namespace pelvaron
