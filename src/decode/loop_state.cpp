// Placeholder until the loop-state decoder lands.
#include "decode/loop_state.h"

namespace pelvaron {
int DecodeLoopState(std::uint8_t, std::uint8_t, std::uint8_t, const std::string&, EventProtocol&, ObjectRegistry&) {
  return 0;
}
void DecodeDiallerMessage(std::uint8_t, EventProtocol&) {}
}  // namespace pelvaron
