#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/sound_player.h"

namespace pelvaron {

// The audible alarm over a player that may fail (no sound card, no player
// program, no alarm.wav). While it works, every burst asked for is played
// unless one still plays. Once it fails it is tried again at each new alarm
// and a minute after its last try, not every few seconds. Its failure (with
// the cause) and its return are told once each: a silent alarm must never
// pass for a sounding one.
class AlarmSound {
 public:
  static constexpr std::int64_t kRetryMs = 60000;

  // told: "" when the sound works again, else why it does not (in Russian).
  AlarmSound(SoundPlayer& player, std::function<std::int64_t()> nowMs, std::function<void(const std::string&)> told);

  // One burst, asked for by the overdue alarm or the alarm queue; newAlarm:
  // an alarm has just come, which is worth a try even while the sound fails.
  void Play(bool playFile, bool beep, bool newAlarm);
  // Why the sound does not work, or "" while it does (or is untried).
  const std::string& problem() const { return problem_; }

  // What the operator reads when the sound fails, and when it works again.
  static std::string ProblemText(const std::string& cause);
  static constexpr const char* kBackText = "Звук тревоги снова работает.";

 private:
  void LearnOutcome();
  void Fail(const std::string& cause);

  SoundPlayer& player_;
  std::function<std::int64_t()> nowMs_;
  std::function<void(const std::string&)> told_;
  std::string problem_;
  std::int64_t lastTryMs_ = 0;
  bool started_ = false;  // a burst was started and its end not learnt yet
};

}  // namespace pelvaron
