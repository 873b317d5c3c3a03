#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pelvaron::testing {

// Waits for something another thread or process does: true as soon as done()
// holds, false after timeoutMs (a generous bound for a failing test, never a
// measurement).
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Collects what an output reports, from any thread.
class Reports {
 public:
  std::function<void(const std::string&)> Sink() {
    return [this](const std::string& text) {
      std::lock_guard lock(mutex_);
      texts_.push_back(text);
    };
  }
  std::vector<std::string> Texts() const {
    std::lock_guard lock(mutex_);
    return texts_;
  }
  int Count(const std::string& part) const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const std::string& t : texts_) n += t.find(part) != std::string::npos;
    return n;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> texts_;
};

}  // namespace pelvaron::testing
