#include "hub/web/live_feed.h"

#include "hub/web/station_board.h"

namespace pelvaron {

std::string PictureJson(const nlohmann::json& snapshot) {
  nlohmann::json body = snapshot;
  body["alarms"] = StationAlarms(snapshot);
  return body.dump();
}

void LiveFeed::Changed() {
  { std::lock_guard lock(mutex_); }
  changed_.notify_all();
}

LiveFeed::Frame LiveFeed::Current() {
  const std::uint64_t version = picture_.Version();
  if (!frame_.text || frame_.version != version) {
    // The version is read first: a change during the snapshot makes the next
    // call build again rather than miss it.
    frame_.version = version;
    frame_.text = std::make_shared<const std::string>("event: picture\ndata: " + PictureJson(picture_.Snapshot()) +
                                                      "\n\n");
  }
  return frame_;
}

std::optional<LiveFeed::Frame> LiveFeed::Next(std::uint64_t seen, std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  const bool fresh = changed_.wait_for(lock, wait, [&] { return closed_ || picture_.Version() != seen; });
  if (closed_ || !fresh) return {};
  return Current();
}

void LiveFeed::Close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}

bool LiveFeed::Closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

}  // namespace pelvaron
