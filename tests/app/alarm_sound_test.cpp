// The audible alarm over a player that fails and comes back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/alarm_sound.h"

namespace pelvaron {
namespace {

// A player whose bursts end when the test says, well or badly.
class ScriptedPlayer : public SoundPlayer {
 public:
  Result<> Start(bool, bool) override {
    ++starts;
    if (!startFailure.empty()) return Problem(startFailure);
    playing = true;
    return {};
  }
  Result<bool> Playing() override {
    if (!playing && !endFailure.empty()) return Problem(endFailure);
    return playing;
  }
  int starts = 0;
  bool playing = false;
  std::string startFailure;  // the next starts fail at once with this
  std::string endFailure;    // a burst that ends, ends with this
};

TEST(AlarmSound, AFailingSoundIsTriedAtEachNewAlarmAndEveryMinuteAndEachChangeIsToldOnce) {
  ScriptedPlayer player;
  std::int64_t now = 0;
  std::vector<std::string> told;
  AlarmSound sound(player, [&] { return now; }, [&](const std::string& problem) { told.push_back(problem); });

  // Working: each burst asked for plays, but none over one still playing.
  sound.Play(false, true, true);
  sound.Play(false, true, false);
  EXPECT_EQ(player.starts, 1);
  player.playing = false;
  now = 3000;
  sound.Play(false, true, false);
  EXPECT_EQ(player.starts, 2);
  EXPECT_TRUE(told.empty()) << "nothing to tell while it works";

  // The burst ends badly: told once with the player's cause, tried no more every few seconds.
  player.playing = false;
  player.endFailure = "нет устройства";
  struct Step {
    std::int64_t at;
    bool newAlarm;
    int starts;  // after the step
  };
  const Step steps[] = {
      {6000, false, 2},   // the failure is learnt, no new try
      {9000, false, 2},   // three seconds later: nothing
      {30000, true, 3},   // a new alarm: tried at once
      {33000, false, 3},  // fails again: the same cause is not told again
      {60000, false, 3},  // a minute since the start of the failure is not a minute since the last try
      {90000, false, 4},  // a minute since the last try
  };
  for (const Step& step : steps) {
    now = step.at;
    player.playing = false;
    sound.Play(false, true, step.newAlarm);
    EXPECT_EQ(player.starts, step.starts) << step.at;
  }
  EXPECT_EQ(told, std::vector<std::string>{"нет устройства"});
  EXPECT_EQ(sound.problem(), "нет устройства");

  // Another cause (the player cannot even start) is told; then the sound comes back, and that is told.
  player.startFailure = "нет проигрывателя";
  player.playing = false;  // the try at 90000 failed as before
  now = 95000;
  sound.Play(false, true, true);
  EXPECT_EQ(told.back(), "нет проигрывателя");
  player.startFailure.clear();
  player.endFailure.clear();
  now = 96000;
  sound.Play(false, true, false);
  EXPECT_EQ(player.starts, 5) << "within a minute of a failed try, no other";
  now = 97000;
  sound.Play(false, true, true);
  EXPECT_EQ(player.starts, 6);
  player.playing = false;
  now = 99000;
  sound.Play(false, true, false);
  EXPECT_EQ(told, (std::vector<std::string>{"нет устройства", "нет проигрывателя", ""}));
  EXPECT_EQ(sound.problem(), "");
  EXPECT_EQ(player.starts, 7) << "working again: every burst asked for";
}

}  // namespace
}  // namespace pelvaron
