#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "events/event.h"

namespace pelvaron {

// An output that delivers events on a thread of its own, so that a slow disk
// or a dead network never delays the console's tick. Publish only queues; a
// full queue hands the event to Overflow (on the console's thread), which an
// output that must not lose anything spills somewhere durable.
class BackgroundSink : public EventSink {
 public:
  explicit BackgroundSink(std::size_t capacity);
  ~BackgroundSink() override;

  BackgroundSink(const BackgroundSink&) = delete;
  BackgroundSink& operator=(const BackgroundSink&) = delete;

  // Starts the worker. Events published before are kept and delivered.
  void Start();
  // Stops the worker after it has delivered what is queued, waiting at most
  // drainMs; what is left is handed to Overflow. Derived classes call it in
  // their destructor. Safe to call twice.
  void Stop(int drainMs = 2000);

  void Publish(const Event& event) final;

  std::size_t Queued() const;
  std::uint64_t Overflowed() const { return overflowed_.load(); }

 protected:
  // On the worker thread, one event at a time, in order. Returns false when
  // the event could not be delivered now: it is offered again after
  // RetryDelayMs, and nothing behind it goes first.
  virtual bool Deliver(const Event& event) = 0;
  // On the console's thread (or in Stop): the queue had no room for it.
  virtual void Overflow(const Event& /*event*/) {}
  virtual int RetryDelayMs() const { return 1000; }

 private:
  void Run();

  const std::size_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable drained_;
  std::deque<Event> queue_;
  bool stopping_ = false;
  bool busy_ = false;
  std::thread worker_;
  std::atomic<std::uint64_t> overflowed_{0};
};

// Hands every event to each of several outputs, in the order they were added.
class EventFanOut : public EventSink {
 public:
  void Add(EventSink* sink) { sinks_.push_back(sink); }
  bool Empty() const { return sinks_.empty(); }
  void Publish(const Event& event) override {
    for (EventSink* sink : sinks_) sink->Publish(event);
  }

 private:
  std::vector<EventSink*> sinks_;
};

}  // namespace pelvaron
