#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "decode/decoded_message.h"

namespace pelvaron {

// The 4-byte radio record of frame bytes 4..7.
struct RadioRecord {
  std::uint8_t eventCode;
  std::uint8_t sourceByte;
  std::uint8_t detail;
  std::uint8_t unitByte;
};

// Zero to eight lines (and records) for one radio record: one per partition
// or relay output its mask names.
void DecodeRadioMessage(RadioRecord record, DecodedMessage& out);
// Exactly one line and one record for one (possibly rewritten) record.
void FormatRadioRecord(RadioRecord record, DecodedMessage& out);
// The event text of a radio event code.
std::string RadioEventText(std::uint8_t eventCode, int newEvent);
void AppendRadioEventText(std::string& out, std::uint8_t eventCode, int newEvent);
// The name of a radio device kind (bits 3..0 of the unit byte).
std::string_view RadioDeviceKindName(int deviceKind);

}  // namespace pelvaron
