#pragma once

#include <cstdint>
#include <string>

#include "objects/object_registry.h"
#include "protocol/event_protocol.h"

namespace pelvaron {

// The lines of an "ОРН" loop-state message; a guard's control message resets
// the counters of every object with that address. Ends with RefreshObjectList.
int DecodeLoopState(std::uint8_t kindByte, std::uint8_t loopByte, std::uint8_t guardByte,
                    const std::string& address, EventProtocol& protocol, ObjectRegistry& objects);

// The one line of a dialler unit's message.
void DecodeDiallerMessage(std::uint8_t diallerByte, EventProtocol& protocol);

}  // namespace pelvaron
