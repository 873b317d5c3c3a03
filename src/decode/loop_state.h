#pragma once

#include <cstdint>

#include "decode/decoded_message.h"

namespace pelvaron {

// The lines and fields of an "ОРН" loop-state message (frame bytes 3..5).
// A control message (kind 2) is only marked: restarting the control period
// of its objects is the console's business.
void DecodeLoopState(std::uint8_t kindByte, std::uint8_t loopByte, std::uint8_t guardByte, DecodedMessage& out);

// The one line and the fields of a dialler unit's message (frame byte 4).
void DecodeDiallerMessage(std::uint8_t diallerByte, DecodedMessage& out);

}  // namespace pelvaron
