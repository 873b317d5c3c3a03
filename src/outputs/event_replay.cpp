#include "outputs/event_replay.h"

#include <nlohmann/json.hpp>

#include "outputs/command_request.h"

namespace pelvaron {

std::optional<ReplayRequest> ParseReplayRequest(std::string_view payload, std::string& id, std::string& problem) {
  id.clear();
  problem.clear();
  const nlohmann::json json = payload.size() <= kMaxCommandBytes ? nlohmann::json::parse(payload, nullptr, false)
                                                                  : nlohmann::json();
  if (!json.is_object()) {
    problem = "Запрос не понят: нужен объект JSON до 4 КБ.";
    return {};
  }
  const auto request = json.find("request");
  if (request == json.end() || !request->is_string()) {
    problem = "Запрос не понят: нет номера запроса.";
    return {};
  }
  id = request->get<std::string>();
  if (!IsCommandId(id)) {
    problem = "Запрос не понят: неверный номер запроса.";
    id.clear();
    return {};
  }
  ReplayRequest r;
  r.id = id;
  const auto from = json.find("from");
  const auto to = json.find("to");
  if (from == json.end() || !from->is_number_unsigned() || from->get<std::uint64_t>() < 1) {
    problem = "Запрос не понят: from должен быть номером события (целое число от 1).";
    return {};
  }
  r.from = from->get<std::uint64_t>();
  if (to != json.end() && !to->is_null()) {
    if (!to->is_number_unsigned() || to->get<std::uint64_t>() < r.from) {
      problem = "Запрос не понят: to должен быть номером события не меньше from.";
      return {};
    }
    r.to = to->get<std::uint64_t>();
  }
  return r;
}

std::string ReplayResultJson(const std::string& id, std::size_t count, std::uint64_t last) {
  return nlohmann::ordered_json{{"request", id}, {"status", "accepted"}, {"count", count}, {"last", last}}.dump();
}

}  // namespace pelvaron
