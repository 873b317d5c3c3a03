// The sound player's causes: a player that is missing, one that fails with
// its own words, one that plays.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "outputs/wait_until.h"
#include "platform/alarm_player.h"
#include "support/result_support.h"

namespace pelvaron {
namespace {

// A stand-in for the player: a shell script that says something and exits as told.
std::string Script(const std::string& name, const std::string& body) {
  const std::string path = (std::filesystem::temp_directory_path() / name).string();
  std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
  chmod(path.c_str(), 0700);
  return path;
}

// Why the burst did not play, as the operator reads it; "" when it played.
std::string Ended(AlarmPlayer& player) {
  Result<bool> playing = true;
  EXPECT_TRUE(testing::WaitUntil([&] {
    playing = player.Playing();
    return !playing || !*playing;
  }));
  return testing::ProblemOf(playing).Said();
}

TEST(AlarmPlayer, TellsWhyTheSoundDidNotPlayInThePlayersOwnWords) {
  {
    AlarmPlayer player(Script("pelvaron-test-player-fails", "echo 'audio open error: No such device' >&2; exit 1"));
    ASSERT_TRUE(testing::Succeeded(player.Start(false, true)));
    const std::string failure = Ended(player);
    EXPECT_NE(failure.find("код 1: audio open error: No such device"), std::string::npos) << failure;
  }
  {
    AlarmPlayer player(Script("pelvaron-test-player-plays", "test -s \"$2\" && exit 0; exit 3"));
    ASSERT_TRUE(testing::Succeeded(player.Start(false, true)));
    EXPECT_EQ(Ended(player), "") << "the tones were written where the player finds them";
  }
  AlarmPlayer missing("/nonexistent/pelvaron-player");
  const std::string noPlayer = testing::ProblemOf(missing.Start(false, true)).Said();
  EXPECT_NE(noPlayer.find("нет проигрывателя звука"), std::string::npos) << noPlayer;
  const std::filesystem::path here = std::filesystem::current_path();
  std::filesystem::current_path(std::filesystem::temp_directory_path());
  std::filesystem::remove("alarm.wav");
  EXPECT_NE(testing::ProblemOf(missing.Start(true, false)).Said().find("alarm.wav"), std::string::npos);
  std::filesystem::current_path(here);
}

}  // namespace
}  // namespace pelvaron
