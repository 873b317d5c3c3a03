#include "outputs/command_request.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <span>

namespace pelvaron {

namespace {

using Json = nlohmann::json;

bool IdCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
         c == ':' || c == '-';
}

bool ValidId(const std::string& id) {
  return !id.empty() && id.size() <= kMaxCommandIdBytes && std::all_of(id.begin(), id.end(), IdCharacter);
}

// Characters of valid UTF-8 (the parser has checked it).
std::size_t Characters(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

bool HasControlByte(const std::string& text) {
  // C1 controls are two bytes in UTF-8: C2 80 to C2 9F.
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x20 || b == 0x7F) return true;
    if (b == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F) return true;
  }
  return false;
}

constexpr const char* kAckFields[] = {"request", "operator", "ref", "note"};
constexpr const char* kActionFields[] = {"request", "operator", "ref", "action", "detail"};
constexpr const char* kCloseFields[] = {"request", "operator", "ref", "outcome", "note"};

CommandParse Refuse(std::string id, const std::string& why) {
  CommandParse p;
  p.id = std::move(id);
  p.problem = "Запрос не понят: " + why + ".";
  return p;
}

}  // namespace

bool IsCommandId(const std::string& id) {
  return ValidId(id);
}

CommandParse ParseCommand(std::string_view verb, std::string_view payload) {
  CommandRequest r;
  std::span<const char* const> allowed;
  if (verb == "ack") {
    r.verb = CommandRequest::Verb::Acknowledge;
    allowed = kAckFields;
  } else if (verb == "action") {
    r.verb = CommandRequest::Verb::Action;
    allowed = kActionFields;
  } else if (verb == "close") {
    r.verb = CommandRequest::Verb::Close;
    allowed = kCloseFields;
  } else {
    return Refuse({}, "неизвестная команда «" + std::string(verb) + "»");
  }
  if (payload.size() > kMaxCommandBytes) return Refuse({}, "запрос длиннее 4 КиБ");
  const Json json = Json::parse(payload, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return Refuse({}, "это не объект JSON в UTF-8");

  // The id first: a refusal of anything else can then be answered.
  const auto id = json.find("request");
  if (id == json.end() || !id->is_string() || !ValidId(id->get<std::string>())) {
    return Refuse({}, "нет номера запроса (request: от 1 до 64 знаков A-Z, a-z, 0-9, «.», «_», «:», «-»)");
  }
  r.id = id->get<std::string>();
  for (const auto& [key, value] : json.items()) {
    if (std::find_if(allowed.begin(), allowed.end(), [&](const char* a) { return key == a; }) == allowed.end()) {
      return Refuse(r.id, "лишнее поле «" + key + "» в команде " + std::string(verb));
    }
    if (key != "ref" && !value.is_string()) return Refuse(r.id, "поле «" + key + "» должно быть строкой");
  }
  const auto who = json.find("operator");
  if (who == json.end()) return Refuse(r.id, "не указан оператор (operator)");
  r.operatorName = who->get<std::string>();
  if (r.operatorName.empty() || Characters(r.operatorName) > kMaxCommandOperatorChars ||
      HasControlByte(r.operatorName)) {
    return Refuse(r.id, "имя оператора должно быть от 1 до 64 знаков без управляющих символов");
  }
  const auto ref = json.find("ref");
  if (ref == json.end() || !ref->is_number_unsigned() || ref->get<std::uint64_t>() == 0) {
    return Refuse(r.id, "не указан номер тревоги (ref: целое число больше нуля)");
  }
  r.ref = ref->get<std::uint64_t>();
  auto text = [&json](const char* key) {
    const auto found = json.find(key);
    return found == json.end() ? std::string() : found->get<std::string>();
  };
  r.note = text("note");
  r.action = text("action");
  r.detail = text("detail");
  r.outcome = text("outcome");
  if (r.verb == CommandRequest::Verb::Action && r.action.empty()) return Refuse(r.id, "не указано действие (action)");
  CommandParse p;
  p.id = r.id;
  p.request = std::move(r);
  return p;
}

std::string CommandResultJson(const std::string& id, bool accepted, const std::string& reason) {
  nlohmann::ordered_json result = {{"request", id}, {"status", accepted ? "accepted" : "refused"}};
  if (!accepted) result["reason"] = reason;
  return result.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace pelvaron
