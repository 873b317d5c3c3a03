#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelvaron {

// A subscriber that missed events (the hub after a crash, or after a broker
// that forgot its session) asks the console on command/replay for a range of
// them again: {"request": ID, "from": SEQ, "to": SEQ (optional)}. The console
// publishes what its store holds of that range, at most kMaxReplayEvents, as
// they went out first, then {"request", "status": "accepted", "count", "last"}
// on command/result; the one who asked goes on from last + 1.
struct ReplayRequest {
  std::string id;
  std::uint64_t from = 1;
  std::uint64_t to = UINT64_MAX;
};

inline constexpr std::size_t kMaxReplayEvents = 2000;

// The request, or nothing with why (in Russian) in problem and the id in id
// when one could be read.
std::optional<ReplayRequest> ParseReplayRequest(std::string_view payload, std::string& id, std::string& problem);

// What the network thread publishes for one request: the events, then the answer.
struct ReplayBatch {
  std::vector<std::string> events;
  std::string result;
};

std::string ReplayResultJson(const std::string& id, std::size_t count, std::uint64_t last);

// Reads the ranges asked for off the network thread (the store is on disk).
// Ask and TakeBatches on the network thread; the reader calls wake when a
// batch is ready.
class EventReplay {
 public:
  virtual ~EventReplay() = default;
  virtual void Start(std::function<void()> wake) = 0;
  // A payload heard on command/replay; false when too many wait already.
  virtual bool Ask(std::string payload) = 0;
  virtual std::vector<ReplayBatch> TakeBatches() = 0;
};

}  // namespace pelvaron
