#pragma once

#include <cstdint>
#include <string>

#include "core/operator.h"
#include "objects/object_registry.h"
#include "protocol/event_protocol.h"

namespace pelvaron {

inline constexpr std::size_t kFrameSize = 10;

// Turns a receiver's 10-byte frame into event lines. Returns 0 when the sum
// was right and every line was written, 1 after the checksum message.
int DecodeFrame(const std::uint8_t* frame, EventProtocol& protocol, Operator& op, ObjectRegistry& objects);

}  // namespace pelvaron
