#pragma once

#include "link/receiver_link.h"

namespace pelvaron {

// Keeps the receiver's port in use without the operator, so that a console
// never stays blind: a port that could not be opened, whose device failed
// while open (unplugged, I/O errors), or whose receiver has left
// kLinkLostTicks status requests in a row unanswered is opened again every
// kReopenTicks ticks for as long as that lasts. Any opening counts as a try,
// so it never comes faster than the tick nor right after the operator's
// reopen. What each try meets is told through ReopenComPort: once per cause.
class PortWatch {
 public:
  static constexpr int kReopenTicks = 10;     // 5 s at the station's half-second tick
  static constexpr int kLinkLostTicks = 121;  // the link's own count of a lost link

  explicit PortWatch(ReceiverLink& link) : link_(link) {}

  // The tick's step before its status request.
  void BeforeStatus();
  // The status request's result: 0 answered, 1 no answer, 2 too long.
  void AfterStatus(int result);

 private:
  ReceiverLink& link_;
  unsigned seenOpens_ = 0;
  int ticksSinceOpen_ = 0;
  int unanswered_ = 0;
};

}  // namespace pelvaron
