#include "hub/hub_event.h"

#include <charconv>

#include <nlohmann/json.hpp>

namespace pelvaron {

namespace {

bool Number(std::string_view text, std::size_t at, std::size_t digits, int& out) {
  if (at + digits > text.size()) return false;
  const char* first = text.data() + at;
  const auto [end, ec] = std::from_chars(first, first + digits, out);
  return ec == std::errc() && end == first + digits;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::string Text(const nlohmann::json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// The console marks the messages its queue takes with their priority; its
// handling of an alarm is known by the kind.
int AlarmRoleOf(const std::string& kind, const nlohmann::json& object) {
  if (kind == "alarm-acknowledged") return 3;
  if (kind == "alarm-action") return 4;
  if (kind == "alarm-closed") return 5;
  if (kind != "message" || !object.contains("priority")) return 0;
  const auto restore = object.find("restore");
  return restore != object.end() && restore->is_boolean() && restore->get<bool>() ? 2 : 1;
}

}  // namespace

std::optional<std::int64_t> IsoTimeSeconds(std::string_view t) {
  int year, month, day, hour, minute, second, offH = 0, offM = 0;
  if (t.size() < 20 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' || t[16] != ':') return {};
  if (!Number(t, 0, 4, year) || !Number(t, 5, 2, month) || !Number(t, 8, 2, day) || !Number(t, 11, 2, hour) ||
      !Number(t, 14, 2, minute) || !Number(t, 17, 2, second))
    return {};
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return {};
  int sign = 0;
  if (t.size() == 20 && t[19] == 'Z') {
    sign = 1;
  } else if (t.size() == 25 && (t[19] == '+' || t[19] == '-') && t[22] == ':' && Number(t, 20, 2, offH) &&
             Number(t, 23, 2, offM)) {
    sign = t[19] == '+' ? 1 : -1;
  }
  if (sign == 0) return {};
  const std::int64_t days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  return days * 86400 + hour * 3600 + minute * 60 + second - sign * (offH * 3600 + offM * 60);
}

Result<HubEvent> ParseHubEvent(std::string station, std::string json) {
  // The lines and the decoded message are kept in the JSON as it came; not
  // building them as values halves the time a message takes.
  const auto skipBulk = [](int depth, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
    if (depth != 1 || event != nlohmann::json::parse_event_t::key) return true;
    const std::string& key = parsed.get_ref<const std::string&>();
    return key != "lines" && key != "message";
  };
  const nlohmann::json object = nlohmann::json::parse(json, skipBulk, false);
  if (!object.is_object()) return Problem{"сообщение не является событием в формате JSON"};
  const auto seq = object.find("seq");
  if (seq == object.end() || !seq->is_number_integer() || seq->get<std::int64_t>() < 1)
    return Problem{"в событии нет номера (seq)"};
  HubEvent event;
  event.timeText = Text(object, "time");
  const std::optional<std::int64_t> time = IsoTimeSeconds(event.timeText);
  if (!time) return Problem{"в событии №" + std::to_string(seq->get<std::int64_t>()) + " нет времени (time)"};
  event.kind = Text(object, "kind");
  if (event.kind.empty()) return Problem{"в событии №" + std::to_string(seq->get<std::int64_t>()) + " нет вида (kind)"};
  event.station = std::move(station);
  event.seq = seq->get<std::int64_t>();
  event.time = *time;
  event.address = Text(object, "address");
  event.text = Text(object, "text");
  event.command = Text(object, "command");
  event.detail = Text(object, "detail");
  event.operatorName = Text(object, "operator");
  if (const auto ref = object.find("ref"); ref != object.end() && ref->is_number_integer())
    event.ref = ref->get<std::int64_t>();
  event.priority = Text(object, "priority");
  event.alarmKey = Text(object, "alarm_key");
  event.alarmRole = AlarmRoleOf(event.kind, object);
  event.json = std::move(json);
  return event;
}

}  // namespace pelvaron
