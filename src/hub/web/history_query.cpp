#include "hub/web/history_query.h"

#include <charconv>

#include "hub/hub_event.h"

namespace pelvaron {

std::optional<std::int64_t> HistoryTime(const std::string& text) {
  std::int64_t seconds = 0;
  const char* end = text.data() + text.size();
  if (auto [ptr, ec] = std::from_chars(text.data(), end, seconds); ec == std::errc() && ptr == end) return seconds;
  return IsoTimeSeconds(text);
}

Result<nlohmann::json> SearchHistory(WebDb& db, const HistoryFilter& filter) {
  // Only the conditions asked for, so that each search meets its index.
  std::string sql = "SELECT station, json FROM events WHERE time >= $1";
  std::vector<std::string> params{std::to_string(filter.from)};
  auto add = [&](const char* condition, std::string value) {
    params.push_back(std::move(value));
    sql += std::string(" AND ") + condition + " $" + std::to_string(params.size());
  };
  if (filter.to > 0) add("time <", std::to_string(filter.to));
  if (!filter.station.empty()) add("station =", filter.station);
  if (!filter.address.empty()) add("address =", filter.address);
  params.push_back(std::to_string(filter.limit));
  sql += " ORDER BY time DESC, seq DESC LIMIT $" + std::to_string(params.size());
  Result<std::vector<WebDb::Row>> rows = db.Query(sql, params);
  if (!rows) return rows.problem();
  nlohmann::json out = nlohmann::json::array();
  for (const WebDb::Row& row : *rows) {
    nlohmann::json event = nlohmann::json::parse(row[1], nullptr, false);
    if (!event.is_object()) continue;
    event["station"] = row[0];
    out.push_back(std::move(event));
  }
  return out;
}

}  // namespace pelvaron
