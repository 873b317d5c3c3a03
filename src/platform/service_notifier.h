#pragma once

#include <cstdint>
#include <string>

#include "core/result.h"

namespace pelvaron {

// Tells the service manager how the console is doing, through libsystemd's
// sd_notify: ready once started, a watchdog ping from the tick, stopping at
// the end. Only when the manager started us (NOTIFY_SOCKET set) is libsystemd
// loaded at all, so a console run by hand maps nothing more.
class ServiceNotifier {
 public:
  ServiceNotifier();
  ~ServiceNotifier();
  ServiceNotifier(const ServiceNotifier&) = delete;
  ServiceNotifier& operator=(const ServiceNotifier&) = delete;

  // Someone listens.
  bool Active() const { return notify_ != nullptr; }
  // Whether a manager that asked can be told: not when libsystemd is missing.
  const Result<>& Reachable() const { return reachable_; }

  void Ready(const std::string& status);
  // From the tick: a watchdog ping at half the manager's interval, so a tick
  // that hangs for that long gets the console restarted.
  void Tick(std::int64_t monotonicMs);
  void Stopping();

 private:
  void Send(const std::string& state);

  void* library_ = nullptr;
  int (*notify_)(int, const char*) = nullptr;
  std::int64_t pingEveryMs_ = 0;  // 0: no watchdog
  std::int64_t lastPingMs_ = 0;
  bool pinged_ = false;
  Result<> reachable_;
};

// True when stderr is the stream the service manager gave us for the journal
// (JOURNAL_STREAM names its device and inode), so lines may carry priorities.
bool StderrGoesToJournal();

}  // namespace pelvaron
