// Placeholder until the radio decoder lands.
#include "decode/radio.h"

namespace pelvaron {
void DecodeRadioMessage(RadioRecord, EventProtocol&) {}
void FormatRadioRecord(RadioRecord, EventProtocol&) {}
std::string RadioEventText(std::uint8_t, int) { return {}; }
}  // namespace pelvaron
