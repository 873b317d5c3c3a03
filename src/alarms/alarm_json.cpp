#include "alarms/alarm_json.h"

#include <nlohmann/json.hpp>

#include "store/history_format.h"

namespace pelvaron {

std::string AlarmsJson(const AlarmView& view) {
  using Json = nlohmann::ordered_json;
  Json alarms = Json::array();
  for (const AlarmRow& row : view.rows) {
    const AlarmEntry& e = row.entry;
    Json actions = Json::array();
    for (const AlarmActionRecord& a : e.actions) {
      actions.push_back({{"time", IsoTimeOf(a.time)}, {"code", a.code}, {"detail", a.detail}, {"operator", a.operatorName}});
    }
    alarms.push_back({{"id", e.id},
                      {"address", e.address},
                      {"comment", row.comment},
                      {"priority", row.priorityName},
                      {"priority_title", row.priorityTitle},
                      {"colour", row.colour},
                      {"text", e.text},
                      {"time", IsoTimeOf(e.firstTime)},
                      {"last_time", IsoTimeOf(e.lastTime)},
                      {"repeats", e.repeats},
                      {"restored", e.restored},
                      {"acknowledged", e.acknowledged},
                      {"ack_time", e.acknowledged ? Json(IsoTimeOf(e.ackTime)) : Json()},
                      {"ack_operator", e.ackOperator},
                      {"actions", std::move(actions)}});
  }
  // Texts from the receiver or the objects table that are no valid UTF-8 show their replacement mark.
  return Json{{"alarms", std::move(alarms)}}.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace pelvaron
