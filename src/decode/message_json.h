#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "core/json_writer.h"
#include "decode/decoded_message.h"

namespace pelvaron {

// A decoded message as JSON: every field of the value and its event-log
// lines, under stable snake_case names (docs/decoded-message.md lists them).
// Any output that hands messages on as data (pelvaron-decode --json, the
// event stream) writes this same object.

// The message's members, without the braces, so that an output can put
// members of its own (a time, a source) into the same object.
void WriteMessageMembers(JsonWriter& json, const DecodedMessage& message);

// The message as one JSON object on one line, appended to out (no newline).
void AppendMessageJson(std::string& out, const DecodedMessage& message);

// A frame as "12 34 1F ...": two uppercase digits a byte, spaces between.
void AppendFrameHex(std::string& out, std::span<const std::uint8_t> frame);

}  // namespace pelvaron
