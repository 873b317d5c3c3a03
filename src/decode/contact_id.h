#pragma once

#include <string>

namespace pelvaron {

// The event text of a Contact ID code (0..999) for a new event or a restore.
std::string ContactIdEventText(int code, int newEvent);

}  // namespace pelvaron
