#include "link/port_watch.h"

namespace pelvaron {

void PortWatch::BeforeStatus() {
  if (link_.OpenCount() != seenOpens_) {
    seenOpens_ = link_.OpenCount();
    ticksSinceOpen_ = 0;
  }
  if (ticksSinceOpen_ < kReopenTicks) ++ticksSinceOpen_;
  if (link_.PortFailed()) link_.ReleaseFailedPort();
  const bool wanted = !link_.IsOpen() || !link_.bComOpen() || unanswered_ >= kLinkLostTicks;
  if (!wanted || ticksSinceOpen_ < kReopenTicks) return;
  link_.ReopenComPort();
  seenOpens_ = link_.OpenCount();
  ticksSinceOpen_ = 0;
}

void PortWatch::AfterStatus(int result) {
  if (result == 0) {
    unanswered_ = 0;
  } else if (result == 1 && unanswered_ < kLinkLostTicks) {
    ++unanswered_;
  }
}

}  // namespace pelvaron
