#pragma once

#include <cstddef>
#include <cstdint>

#include "core/serial_port.h"

namespace pelvaron {

// The Win32 read time-out arithmetic of one read, apart from any clock or
// device, so that a port adapter follows CommTimeouts exactly and tests can
// drive it with plain numbers. Times are microseconds of a monotonic clock.
class ReadDeadline {
 public:
  ReadDeadline(const CommTimeouts& timeouts, std::size_t asked, std::int64_t startUs);

  // Bytes came in at nowUs (the interval restarts from here).
  void BytesArrived(std::int64_t nowUs);

  // How long the reader may still wait for more bytes: 0 when the read is over,
  // kForever when no time-out bounds it.
  std::int64_t RemainingUs(std::int64_t nowUs) const;
  // The same in whole milliseconds, rounded up so a wait never ends early.
  int RemainingMs(std::int64_t nowUs) const;

  static constexpr std::int64_t kForever = -1;

 private:
  bool returnAtOnce_ = false;
  bool hasTotal_ = false;
  std::int64_t totalDeadlineUs_ = 0;
  std::int64_t intervalUs_ = 0;  // 0: none
  bool anyByte_ = false;
  std::int64_t lastByteUs_ = 0;
};

}  // namespace pelvaron
