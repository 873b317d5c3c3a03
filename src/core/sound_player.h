#pragma once

#include "core/result.h"

namespace pelvaron {

// The device behind the audible alarm: one burst at a time, alarm.wav from
// the working folder and/or the four tones. Starting never waits for the
// sound; its end is learnt by asking.
class SoundPlayer {
 public:
  virtual ~SoundPlayer() = default;

  // Starts one burst, or says why it could not: in Russian, with the
  // system's words as the cause (told "text: cause").
  virtual Result<> Start(bool playFile, bool beep) = 0;
  // True while the burst started last still plays, false once it has ended;
  // why it did not play when it ended badly.
  virtual Result<bool> Playing() = 0;
};

}  // namespace pelvaron
