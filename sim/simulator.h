#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/unique_fd.h"
#include "sim/frames.h"
#include "sim/receiver_model.h"
#include "sim/scenario.h"
#include "sim/traffic.h"

namespace pelvaron::sim {

struct SimulatorOptions {
  Scenario scenario;    // run from Start(); empty: none
  bool random = false;  // realistic mixed traffic, forever
  std::uint64_t seed = 1;
  std::string linkPath;  // a symlink kept pointing at the device (pty only)
  std::int64_t byteTimeUs = ReceiverModel::kByteTimeUs;

  // These run on the simulator's thread and must not call the simulator.
  std::function<void(const std::string&)> onDevicePath;  // a new pty after "vanish"
  std::function<void(const std::string&)> onTrace;       // one line per request
  std::function<void()> onExit;                          // the scenario said "exit"
};

// The receiver on a device: a new pseudo-terminal (the console opens its
// other end) or a real serial port. A thread of its own reads requests,
// answers them at 19200-baud pace and plays the scenario and the random
// traffic. Every public call is thread-safe.
class Simulator {
 public:
  // A new pty, raw, whose path DevicePath() gives; none (and *error says why)
  // when it cannot be made.
  static std::unique_ptr<Simulator> OnNewPty(SimulatorOptions options, std::string* error);
  // A real serial device, opened exclusively at 19200 8N1.
  static std::unique_ptr<Simulator> OnDevice(const std::string& path, SimulatorOptions options,
                                             std::string* error);

  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // The path the console should open (it changes after a "vanish" on a pty).
  std::string DevicePath() const;

  void Start();
  // Ends the thread; what was not sent is dropped. Safe to call twice.
  void Stop();
  // The scenario reached "exit".
  bool Finished() const;

  // Queues a message; false when the receiver's queue is full.
  bool Enqueue(const Frame& frame);
  // Does what one scenario line does, now ("wait" and "loop" do nothing).
  void Apply(const Step& step);
  // Parses and applies one scenario line; false (with *error) when it is bad.
  bool Apply(const std::string& line, std::string* error = nullptr);

  std::array<std::uint8_t, 5> Parameters() const;
  std::size_t QueueSize() const;
  std::uint8_t StatusByte() const;
  // Every complete request so far, in order ("gs", "gn", ...).
  std::vector<std::string> Requests() const;
  // Blocks until at least n requests have come or the time is up.
  bool WaitForRequests(std::size_t n, std::chrono::milliseconds timeout) const;

 private:
  explicit Simulator(SimulatorOptions options);
  bool OpenPty(std::string* error);
  bool OpenDevice(std::string* error);
  void CloseDevice();
  bool UpdateLink(std::string* error);
  void ApplyLocked(const Step& step, std::int64_t nowUs, std::vector<std::string>& notes);
  void Run();
  void Wake();

  SimulatorOptions options_;
  bool onPty_ = true;
  std::string devicePath_;
  UniqueFd fd_;
  UniqueFd ptySlave_;  // held open so the master never sees a hang-up
  UniqueFd wakeFd_;

  mutable std::mutex mutex_;
  mutable std::condition_variable requestsChanged_;
  ReceiverModel model_;
  RandomTraffic noise_;
  std::optional<RandomTraffic> traffic_;
  std::optional<std::int64_t> vanishedUntilUs_;
  bool stop_ = false;
  bool finished_ = false;
  std::thread thread_;
};

}  // namespace pelvaron::sim
