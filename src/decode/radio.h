#pragma once

#include <cstdint>
#include <string>

#include "protocol/event_protocol.h"

namespace pelvaron {

// The 4-byte radio record of frame bytes 4..7.
struct RadioRecord {
  std::uint8_t eventCode;
  std::uint8_t sourceByte;
  std::uint8_t detail;
  std::uint8_t unitByte;
};

// Writes zero to eight plain lines for one radio record.
void DecodeRadioMessage(RadioRecord record, EventProtocol& protocol);
// Writes exactly one plain line for one (possibly rewritten) record.
void FormatRadioRecord(RadioRecord record, EventProtocol& protocol);
// The event text of a radio event code.
std::string RadioEventText(std::uint8_t eventCode, int newEvent);

}  // namespace pelvaron
