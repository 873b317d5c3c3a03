#include "app/alarm_sound.h"

namespace pelvaron {

AlarmSound::AlarmSound(SoundPlayer& player, std::function<std::int64_t()> nowMs,
                       std::function<void(const std::string&)> told)
    : player_(player), nowMs_(std::move(nowMs)), told_(std::move(told)) {}

std::string AlarmSound::ProblemText(const std::string& cause) {
  return "Звук тревоги не работает: " + cause +
         ". Проверьте звуковое устройство; звук пробуется снова при каждой новой тревоге и раз в минуту.";
}

void AlarmSound::LearnOutcome() {
  if (!started_) return;
  const Result<bool> playing = player_.Playing();
  if (playing && *playing) return;
  started_ = false;
  if (!playing) {
    Fail(playing.problem().Said());
  } else if (!problem_.empty()) {
    problem_.clear();
    if (told_) told_({});
  }
}

void AlarmSound::Fail(const std::string& cause) {
  if (cause == problem_) return;
  problem_ = cause;
  if (told_) told_(problem_);
}

void AlarmSound::Play(bool playFile, bool beep, bool newAlarm) {
  LearnOutcome();
  if (started_) return;  // still sounding
  const std::int64_t now = nowMs_();
  if (!problem_.empty() && !newAlarm && now - lastTryMs_ < kRetryMs && now >= lastTryMs_) return;
  lastTryMs_ = now;
  if (const Result<> started = player_.Start(playFile, beep); started) {
    started_ = true;
  } else {
    Fail(started.problem().Said());
  }
}

}  // namespace pelvaron
