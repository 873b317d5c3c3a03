#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string_view>

#include "core/result.h"

namespace pelvaron {

// Writes all of data to fd, going on after a signal and after a short write.
// Where fd would block, waits for room until the deadline if one is given,
// else stops at once. Fails with the error that stopped it as the problem's
// code (ENOSPC for a write that took nothing, ETIMEDOUT at the deadline);
// *written (when given) says how many bytes did go out.
Result<> WriteAll(int fd, std::string_view data, std::size_t* written = nullptr,
             std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt);

}  // namespace pelvaron
