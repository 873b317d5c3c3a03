#include "hub/command_sender.h"

#include <random>

#include <nlohmann/json.hpp>

namespace pelvaron {

namespace {

bool ValidId(std::string_view id) {
  if (id.empty() || id.size() > 64) return false;
  for (const char c : id) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                    c == '_' || c == ':' || c == '-';
    if (!ok) return false;
  }
  return true;
}

bool HasControl(std::string_view text) {
  for (const unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

std::string NewId() {
  static std::mutex mutex;
  static std::mt19937_64 random{std::random_device{}()};
  std::lock_guard lock(mutex);
  char id[24];
  std::snprintf(id, sizeof id, "hub-%016llx", static_cast<unsigned long long>(random()));
  return id;
}

std::future<CommandResult> Ready(CommandResult result) {
  std::promise<CommandResult> promise;
  promise.set_value(std::move(result));
  return promise.get_future();
}

}  // namespace

Result<std::string> CommandPayload(const CommandRequest& r) {
  if (!ValidId(r.request)) return Problem{"Неверный номер запроса: 1-64 знака из латинских букв, цифр и . _ : -"};
  if (r.operatorName.empty() || r.operatorName.size() > 64 || HasControl(r.operatorName))
    return Problem{"Не указан оператор (имя до 64 знаков без управляющих символов)"};
  if (r.ref < 1) return Problem{"Не указан номер тревоги"};
  nlohmann::json payload = {{"request", r.request}, {"operator", r.operatorName}, {"ref", r.ref}};
  if (r.verb == "ack") {
    if (!r.note.empty()) payload["note"] = r.note;
  } else if (r.verb == "action") {
    if (r.action.empty()) return Problem{"Не указано действие"};
    payload["action"] = r.action;
    if (!r.detail.empty()) payload["detail"] = r.detail;
  } else if (r.verb == "close") {
    if (r.outcome.empty()) return Problem{"Не указан итог тревоги"};
    payload["outcome"] = r.outcome;
    if (!r.note.empty()) payload["note"] = r.note;
  } else {
    return Problem{"Неизвестная команда «" + r.verb + "»: ack, action или close"};
  }
  std::string text = payload.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  if (text.size() > 4096) return Problem{"Запрос длиннее 4 КБ: сократите примечание"};
  return text;
}

CommandSender::CommandSender(Publish publish) : publish_(std::move(publish)) {}

std::future<CommandResult> CommandSender::Send(CommandRequest request, Clock::time_point now) {
  if (request.request.empty()) request.request = NewId();
  Result<std::string> payload = CommandPayload(request);
  if (!payload) return Ready({request.request, false, payload.problem().text, CommandResult::Outcome::Invalid});
  std::future<CommandResult> future;
  {
    std::lock_guard lock(mutex_);
    if (pending_.count(request.request) != 0) return Ready({request.request, false, "Запрос с таким номером уже ждёт ответа", CommandResult::Outcome::Invalid});
    Pending& p = pending_[request.request];
    p.station = request.station;
    p.deadline = now + kTimeout;
    future = p.promise.get_future();
  }
  const std::string topic = "pelvaron/" + request.station + "/command/" + request.verb;
  if (!publish_(topic, *payload)) {
    std::lock_guard lock(mutex_);
    auto it = pending_.find(request.request);
    it->second.promise.set_value({request.request, false,
                                  "Нет связи с брокером MQTT: команда не отправлена, консоль её не получила; повторите позже",
                                  CommandResult::Outcome::NotSent});
    pending_.erase(it);
  }
  return future;
}

void CommandSender::Answer(const std::string& station, std::string_view payload) {
  const nlohmann::json answer = nlohmann::json::parse(payload, nullptr, false);
  if (!answer.is_object() || !answer.contains("request") || !answer["request"].is_string()) return;
  const std::string id = answer["request"].get<std::string>();
  std::lock_guard lock(mutex_);
  auto it = pending_.find(id);
  if (it == pending_.end() || it->second.station != station) return;  // another hub's, or a repeat
  CommandResult result{id, answer.value("status", "") == "accepted", "", CommandResult::Outcome::Refused};
  if (result.accepted) result.outcome = CommandResult::Outcome::Accepted;
  if (!result.accepted) result.reason = answer.value("reason", std::string("Консоль отказала"));
  it->second.promise.set_value(std::move(result));
  pending_.erase(it);
}

void CommandSender::Expire(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (now >= it->second.deadline) {
      it->second.promise.set_value({it->first, false, kNoAnswer, CommandResult::Outcome::NoAnswer});
      it = pending_.erase(it);
    } else {
      ++it;
    }
  }
}

std::size_t CommandSender::Waiting() const {
  std::lock_guard lock(mutex_);
  return pending_.size();
}

}  // namespace pelvaron
