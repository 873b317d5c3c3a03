#pragma once

#include <string>
#include <vector>

#include "events/event.h"

namespace pelvaron {

// "NAME=value" for each PELVARON_* variable the event command gets for the
// event (docs/events.md), taken from the event and its decoded message.
std::vector<std::string> EventEnvironment(const Event& event);

}  // namespace pelvaron
