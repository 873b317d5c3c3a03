#include "hub/web/station_board.h"

#include <algorithm>
#include <limits>

#include "alarms/priority_table.h"
#include "hub/hub_event.h"

namespace pelvaron {

namespace {

int Rank(const std::vector<Priority>& order, const std::string& name) {
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (order[i].name == name) return static_cast<int>(i);
  }
  return static_cast<int>(order.size());
}

}  // namespace

nlohmann::json StationAlarms(const nlohmann::json& snapshot) {
  static const std::vector<Priority> order = ParsePriorityTable(DefaultPriorityTableText()).table.priorities();
  struct Entry {
    bool acknowledged;
    int rank;
    std::int64_t since;
    nlohmann::json alarm;
  };
  std::vector<Entry> entries;
  for (const nlohmann::json& station : snapshot.value("stations", nlohmann::json::array())) {
    for (const nlohmann::json& alarm : station.value("alarms", nlohmann::json::array())) {
      if (!alarm.is_object()) continue;
      Entry e{alarm.value("acknowledged", false), Rank(order, alarm.value("priority", std::string())),
              IsoTimeSeconds(alarm.value("time", std::string())).value_or(std::numeric_limits<std::int64_t>::max()),
              alarm};
      e.alarm["station"] = station.value("station", std::string());
      entries.push_back(std::move(e));
    }
  }
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return std::tie(a.acknowledged, a.rank, a.since) < std::tie(b.acknowledged, b.rank, b.since);
  });
  nlohmann::json out = nlohmann::json::array();
  for (Entry& e : entries) out.push_back(std::move(e.alarm));
  return out;
}

}  // namespace pelvaron
