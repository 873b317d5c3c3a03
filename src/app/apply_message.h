#pragma once

#include <cstdint>

#include "core/operator.h"
#include "decode/decoded_message.h"
#include "objects/object_registry.h"
#include "protocol/event_protocol.h"

namespace pelvaron {

// What a received frame does to the console: a wrong sum shows the checksum
// message and writes nothing; otherwise the lines go into the event log and
// the protocol file in order (the header stamped), and a loop-state message
// restarts the control period of its address on a control message and ends
// with RefreshObjectList. Returns 0, or 1 for a wrong sum.
int ApplyDecodedMessage(const DecodedMessage& message, EventProtocol& protocol, Operator& op,
                        ObjectRegistry& objects);

// Decodes frame[0..9] into `scratch` (reused, so a steady stream allocates
// nothing) and applies it. Returns 0, or 1 for a wrong sum or a null frame.
int DecodeFrame(const std::uint8_t* frame, DecodedMessage& scratch, EventProtocol& protocol, Operator& op,
                ObjectRegistry& objects);
// The same with a message of its own.
int DecodeFrame(const std::uint8_t* frame, EventProtocol& protocol, Operator& op, ObjectRegistry& objects);

}  // namespace pelvaron
