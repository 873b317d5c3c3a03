#pragma once

#include <nlohmann/json.hpp>

namespace pelvaron {

// The whole station's alarm queue from the picture's snapshot: each console's
// entries with "station" added, the waiting (not acknowledged) first, then by
// priority as the shipped table orders them (a name it lacks after them), the
// longest waiting first.
nlohmann::json StationAlarms(const nlohmann::json& snapshot);

}  // namespace pelvaron
