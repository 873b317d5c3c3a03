#pragma once

#include <cstdint>
#include <string>

#include "core/operator.h"
#include "objects/object_registry.h"
#include "protocol/event_protocol.h"

namespace pelvaron {

inline constexpr std::size_t kFrameSize = 10;

// Turns a receiver's 10-byte frame into event lines; only frame[0..9] is read.
// Returns 0 when the sum was right and every line was written, 1 after the
// checksum message (nothing written then) or for a null frame.
//
// Garbled frames are shown as they came: a digit nibble of 10..15 (address,
// event code, partition, zone/user) shows as the letter A..F; such an event
// code has no number and gets the fallback texts. A binary-address unit of a
// subtype other than 1 or 6 is named "Неизвестный, тип:%d" with its subtype
// and gets no lines after the type line.
int DecodeFrame(const std::uint8_t* frame, EventProtocol& protocol, Operator& op, ObjectRegistry& objects);

}  // namespace pelvaron
