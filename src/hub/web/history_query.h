#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "core/result.h"
#include "hub/web/web_db.h"

namespace pelvaron {

struct HistoryFilter {
  std::string station;  // empty: every console
  std::string address;  // empty: every object
  std::int64_t from = 0;  // calendar seconds (UTC), inclusive
  std::int64_t to = 0;    // exclusive; 0: no end
  int limit = 500;
};

inline constexpr int kHistoryMaxLimit = 5000;

// The stored events that match, newest first, as the consoles sent them
// (each event's JSON with "station" added).
Result<nlohmann::json> SearchHistory(WebDb& db, const HistoryFilter& filter);

// A bound of a search: ISO 8601 with an offset or Z, or calendar seconds.
std::optional<std::int64_t> HistoryTime(const std::string& text);

}  // namespace pelvaron
