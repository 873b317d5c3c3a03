#include "outputs/background_sink.h"

#include <chrono>

namespace pelvaron {

BackgroundSink::BackgroundSink(std::size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {}

BackgroundSink::~BackgroundSink() {
  // A derived class stops in its own destructor, while Deliver still exists;
  // this one only makes sure no thread outlives the object.
  std::unique_lock lock(mutex_);
  stopping_ = true;
  lock.unlock();
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void BackgroundSink::Start() {
  std::lock_guard lock(mutex_);
  if (worker_.joinable() || stopping_) return;
  worker_ = std::thread([this] { Run(); });
}

void BackgroundSink::Stop(int drainMs) {
  std::unique_lock lock(mutex_);
  if (worker_.joinable()) {
    drained_.wait_for(lock, std::chrono::milliseconds(drainMs), [this] { return queue_.empty() && !busy_; });
  }
  stopping_ = true;
  lock.unlock();
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
  // What could not be delivered in time goes where overflow goes.
  lock.lock();
  std::deque<Event> left;
  left.swap(queue_);
  lock.unlock();
  for (const Event& event : left) {
    ++overflowed_;
    Overflow(event);
  }
}

void BackgroundSink::Publish(const Event& event) {
  std::unique_lock lock(mutex_);
  if (queue_.size() >= capacity_ || stopping_) {
    lock.unlock();
    ++overflowed_;
    Overflow(event);
    return;
  }
  queue_.push_back(event);
  lock.unlock();
  wake_.notify_one();
}

std::size_t BackgroundSink::Queued() const {
  std::lock_guard lock(mutex_);
  return queue_.size() + (busy_ ? 1 : 0);
}

void BackgroundSink::Run() {
  std::unique_lock lock(mutex_);
  while (true) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    Event event = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    bool delivered = Deliver(event);
    lock.lock();
    while (!delivered && !stopping_) {
      // Nothing overtakes an event that waits: order is kept.
      wake_.wait_for(lock, std::chrono::milliseconds(RetryDelayMs()), [this] { return stopping_; });
      if (stopping_) break;
      lock.unlock();
      delivered = Deliver(event);
      lock.lock();
    }
    busy_ = false;
    if (!delivered) {
      queue_.push_front(std::move(event));
      drained_.notify_all();
      return;
    }
    if (queue_.empty()) drained_.notify_all();
  }
}

}  // namespace pelvaron
