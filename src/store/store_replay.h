#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "events/event.h"
#include "outputs/event_replay.h"
#include "outputs/report.h"
#include "store/event_store.h"

namespace pelvaron {

// The event as it was published first, rebuilt from its stored row (a
// message's decoded members from its frame).
Event EventOfStored(const StoredEvent& stored);

// Answers command/replay from the event store, read on a thread of its own
// (the store opened read-only, so the console's writer never waits for it).
// One request at a time, and the next only once the network thread has
// taken the last batch: at most one batch is held in memory.
class StoreReplay final : public EventReplay {
 public:
  static constexpr std::size_t kMaxWaiting = 16;

  StoreReplay(std::string storePath, Report report, std::size_t batch = kMaxReplayEvents);
  ~StoreReplay() override;
  StoreReplay(const StoreReplay&) = delete;
  StoreReplay& operator=(const StoreReplay&) = delete;

  void Start(std::function<void()> wake) override;
  bool Ask(std::string payload) override;
  std::vector<ReplayBatch> TakeBatches() override;

 private:
  void Run();
  std::optional<ReplayBatch> Answer(const std::string& payload);

  const std::string storePath_;
  CauseReporter reporter_;
  const std::size_t batch_;
  std::function<void()> wake_;
  EventStore store_;  // the reader's own
  bool open_ = false;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> asked_;
  std::vector<ReplayBatch> ready_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace pelvaron
