#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/scenario.h"

namespace pelvaron::sim {

// The step of one scenario line, split into words (the command first); the
// error says what is wrong. Each command has a parser of its own, found by
// its name.
std::optional<Step> ParseCommand(const std::vector<std::string_view>& words, std::string* error);

}  // namespace pelvaron::sim
