#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "core/result.h"
#include "hub/station_picture.h"

namespace pelvaron {

// picture.json in the hub's folder: the picture's JSON, replaced whole
// (written beside, renamed over) when it has changed, at most once a second,
// so a reader never sees half of it.
class PictureFile {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr auto kPace = std::chrono::seconds(1);

  PictureFile(const StationPicture& picture, std::string path);
  // Writes when there is something new and the pace allows; a failure is the
  // caller's to tell (once).
  Result<> Update(Clock::time_point now);
  // How long until an update is due (for the loop's wait); -1: nothing new.
  int DueInMs(Clock::time_point now) const;

 private:
  const StationPicture& picture_;
  std::string path_;
  std::uint64_t written_ = 0;
  Clock::time_point last_{};
};

}  // namespace pelvaron
