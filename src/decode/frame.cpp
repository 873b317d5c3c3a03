// Placeholder until the frame decoder lands.
#include "decode/frame.h"

namespace pelvaron {
int DecodeFrame(const std::uint8_t*, EventProtocol&, Operator&, ObjectRegistry&) { return 0; }
}  // namespace pelvaron
