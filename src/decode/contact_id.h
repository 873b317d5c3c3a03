#pragma once

#include <string_view>

namespace pelvaron {

// The event text of a Contact ID code (0..999) for a new event (newEvent
// nonzero) or a restore (0). A code without a row, a negative one included,
// gets the table's fallback texts. The text lives as long as the program.
std::string_view ContactIdEventText(int code, int newEvent);

}  // namespace pelvaron
