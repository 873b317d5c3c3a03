#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "hub/station_picture.h"

namespace pelvaron {

// The picture's changes for the live pages: each waiting page is woken by a
// change and gets the newest frame; the frame is made once per change,
// however many pages there are, and a burst of changes costs the slow page
// nothing but the frames it skipped. Any thread.
class LiveFeed {
 public:
  struct Frame {
    std::uint64_t version = 0;
    std::shared_ptr<const std::string> text;  // an SSE message: "event: picture\ndata: {...}\n\n"
  };

  explicit LiveFeed(const StationPicture& picture) : picture_(picture) {}
  // The picture changed (the hub's thread).
  void Changed();
  // The newest frame when it is not seen; waits up to wait for one. Nothing
  // when the wait ended without one or the feed is closed.
  std::optional<Frame> Next(std::uint64_t seen, std::chrono::milliseconds wait);
  void Close();
  bool Closed() const;

 private:
  Frame Current();  // under mutex_
  const StationPicture& picture_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Frame frame_;
  bool closed_ = false;
};

// The live feed's payload and /api/stations' body: the picture and the
// whole station's alarm queue.
std::string PictureJson(const nlohmann::json& snapshot);

}  // namespace pelvaron
