#pragma once

#include <string>

namespace pelvaron {

// The device behind the audible alarm: one burst at a time, alarm.wav from
// the working folder and/or the four tones. Starting never waits for the
// sound; its end is learnt by asking.
class SoundPlayer {
 public:
  virtual ~SoundPlayer() = default;

  // Starts one burst. Returns why it could not start (in Russian), or "".
  virtual std::string Start(bool playFile, bool beep) = 0;
  // True while the burst started last still plays. Once it has ended,
  // failure says why it did not play ("" when it played).
  virtual bool Playing(std::string& failure) = 0;
};

}  // namespace pelvaron
