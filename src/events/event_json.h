#pragma once

#include <string>

#include "events/event.h"

namespace pelvaron {

// An event as one JSON object on one line (docs/events.md names every member;
// docs/events.schema.json is its schema). Every output that hands events on
// (the JSON Lines file, the event command, the broker) writes this object.
//
// Members: seq, time, station, kind and text always; address when the event
// concerns an object (a message always has it); command, detail and ref where
// the kind has them; a message also its event-log lines and the decoded
// message itself under "message".
void AppendEventJson(std::string& out, const Event& event);
std::string EventJson(const Event& event);

}  // namespace pelvaron
