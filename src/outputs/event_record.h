#pragma once

#include <string_view>

namespace pelvaron {

// Whether a record read back from the queue on disk is an event as the
// console writes it: one whole JSON object with its number and a known kind.
// A torn record, stray bytes or another program's lines are not.
bool LooksLikeEvent(std::string_view record);

}  // namespace pelvaron
