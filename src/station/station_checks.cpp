#include "station/station_checks.h"

#include <optional>

#include "core/control_characters.h"
#include "core/cp1251.h"

namespace pelvaron {
namespace {

constexpr std::size_t kMaxAddressDigits = 5;  // a binary unit's address: up to 65535
constexpr std::size_t kMaxPriorityNameBytes = 32;
constexpr std::int64_t kMaxThresholdSeconds = 24 * 60 * 60;
constexpr std::string_view kExtension = "доб.";

Problem Refused(std::string text) {
  return Problem{std::move(text), {}, 0};
}

std::string Quoted(std::string_view text) {
  return "«" + ShowControlCharacters(text) + "»";
}

bool IsUtf8(std::string_view text) {
  char32_t c = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    if (!NextUtf8CodePoint(text, pos, c)) return false;
  }
  return true;
}

Result<> CheckUtf8AndLength(std::string_view subject, std::string_view text, std::size_t maxChars) {
  if (!IsUtf8(text)) {
    return Refused(std::string(subject) +
                   " содержит байты, которые не являются текстом в UTF-8; наберите или сохраните текст заново в UTF-8.");
  }
  if (Utf8Length(text) > maxChars) {
    return Refused(std::string(subject) + " длиннее " + std::to_string(maxChars) + " символов; сократите текст.");
  }
  return {};
}

// The first character Windows-1251 cannot hold, whole (the text is UTF-8).
std::optional<std::string_view> FirstOutsideCp1251(std::string_view text) {
  char32_t c = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t start = pos;
    NextUtf8CodePoint(text, pos, c);
    const std::string_view ch = text.substr(start, pos - start);
    if (!FitsCp1251(ch)) return ch;
  }
  return std::nullopt;
}

Result<> Required(std::string_view subject, std::string_view text) {
  if (text.empty()) return Refused("Поле «" + std::string(subject) + "» не заполнено.");
  return {};
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// word: "план", or "План" at the start of a message.
std::string TitleOf(const ResponsePlan& plan, const char* word) {
  if (!plan.address.empty()) return std::string(word) + " объекта " + ShowControlCharacters(plan.address);
  return std::string(word) + " по умолчанию для приоритета " + ShowControlCharacters(plan.priority);
}

}  // namespace

Result<> CheckLineText(std::string_view subject, std::string_view text, bool required) {
  if (required) {
    if (Result<> r = Required(subject, text); !r) return r;
  }
  if (Result<> r = CheckUtf8AndLength(subject, text, kMaxNameChars); !r) return r;
  if (std::optional<char32_t> c = FirstControlCharacter(text)) return Refused(ControlCharacterRefusal(subject, *c));
  if (std::optional<std::string_view> ch = FirstOutsideCp1251(text)) {
    return Refused(std::string(subject) + " содержит символ «" + std::string(*ch) +
                   "», которого нет в кодировке протокола (Windows-1251); замените или удалите его.");
  }
  return {};
}

Result<> CheckInstructions(std::string_view subject, std::string_view text) {
  if (Result<> r = CheckUtf8AndLength(subject, text, kMaxInstructionsChars); !r) return r;
  char32_t c = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    if (NextUtf8CodePoint(text, pos, c) && c != U'\n' && IsControlCharacter(c)) {
      std::string what = std::string(subject) + " содержит управляющий символ " + ControlCharacterMark(c);
      if (c == U'\t') what += " (табуляция)";
      if (c == U'\r') what += " (возврат каретки)";
      return Refused(what + ". Кроме перевода строки такие символы в инструкции недопустимы; удалите его.");
    }
  }
  return {};
}

Result<> CheckTelephone(std::string_view subject, std::string_view phone) {
  if (Result<> r = Required(subject, phone); !r) return r;
  if (Result<> r = CheckUtf8AndLength(subject, phone, kMaxPhoneChars); !r) return r;
  const std::string example = ": в номере допустимы цифры, пробелы, +, -, скобки и «доб.», например +7 (812) 555-12-34 доб. 12.";
  bool digit = false;
  for (std::size_t pos = 0; pos < phone.size();) {
    if (phone.substr(pos, kExtension.size()) == kExtension) {
      pos += kExtension.size();
      continue;
    }
    const char b = phone[pos];
    if (IsDigit(b) || b == ' ' || b == '+' || b == '-' || b == '(' || b == ')') {
      digit = digit || IsDigit(b);
      ++pos;
      continue;
    }
    const std::size_t start = pos;
    char32_t c = 0;
    NextUtf8CodePoint(phone, pos, c);
    return Refused(std::string(subject) + " " + Quoted(phone) + " содержит " + Quoted(phone.substr(start, pos - start)) +
                   example);
  }
  if (!digit) return Refused(std::string(subject) + " " + Quoted(phone) + " не содержит ни одной цифры" + example);
  return {};
}

Result<> CheckPlanAddress(std::string_view subject, std::string_view address) {
  bool digits = !address.empty() && address.size() <= kMaxAddressDigits;
  for (char b : address) digits = digits && IsDigit(b);
  if (!digits) {
    return Refused(std::string(subject) + " " + Quoted(address) +
                   ": адрес объекта пишется цифрами, как в журнале событий: 0012 или 4660.");
  }
  return {};
}

Result<> CheckPriorityName(std::string_view subject, std::string_view name) {
  bool word = !name.empty() && name.size() <= kMaxPriorityNameBytes;
  for (char b : name) word = word && static_cast<unsigned char>(b) > ' ' && b != 0x7F;
  if (!word || FirstControlCharacter(name)) {
    return Refused(std::string(subject) + " " + Quoted(name) +
                   ": имя приоритета пишется одним словом, как в таблице приоритетов (fire, panic, burglary ...).");
  }
  return {};
}

std::string PlanTitle(const ResponsePlan& plan) {
  return TitleOf(plan, "план");
}

Result<> CheckPlan(const ResponsePlan& plan) {
  if (plan.address.empty() == plan.priority.empty()) {
    return Refused(plan.address.empty()
                       ? "У плана нет ни адреса объекта, ни приоритета: укажите адрес (план объекта) или приоритет "
                         "(план по умолчанию для объектов без своего плана)."
                       : "План не может быть сразу планом объекта " + ShowControlCharacters(plan.address) +
                             " и планом по умолчанию для приоритета " + ShowControlCharacters(plan.priority) +
                             ": оставьте что-то одно.");
  }
  // "План объекта 0012: ..." before the field's own message.
  const std::string title = TitleOf(plan, "План");
  auto within = [&title](const Result<>& r, const std::string& where = {}) -> Result<> {
    if (r) return r;
    return Refused(title + where + ": " + r.problem().text);
  };
  Result<> r = plan.address.empty() ? CheckPriorityName("Приоритет", plan.priority)
                                    : CheckPlanAddress("Адрес объекта", plan.address);
  if (r) r = CheckInstructions("Инструкция", plan.instructions);
  if (r) r = CheckLineText("Название группы реагирования", plan.guardGroup, false);
  if (r && !plan.guardPhone.empty()) r = CheckTelephone("Телефон группы реагирования", plan.guardPhone);
  if (!r) return within(r);
  for (std::size_t i = 0; i < plan.keyHolders.size(); ++i) {
    const KeyHolder& holder = plan.keyHolders[i];
    const std::string where = ", ответственное лицо №" + std::to_string(i + 1);
    r = CheckLineText("Имя ответственного лица", holder.name, true);
    if (r) r = CheckLineText("Роль ответственного лица", holder.role, false);
    if (r && holder.phones.empty()) {
      r = Refused("нет ни одного телефона; укажите хотя бы один, по которому звонить.");
    }
    for (const std::string& phone : holder.phones) {
      if (r) r = CheckTelephone("Телефон ответственного лица", phone);
    }
    if (!r) return within(r, where);
  }
  return {};
}

Result<> CheckOperatorName(std::string_view name) {
  return CheckLineText("Имя оператора", name, true);
}

Result<> CheckNewSecret(std::string_view secret) {
  // The message says what is wrong without a character of the secret.
  if (!IsUtf8(secret) || FirstControlCharacter(secret)) {
    return Refused("ПИН-код или пароль содержит управляющий или недопустимый символ; наберите его заново.");
  }
  const std::size_t chars = Utf8Length(secret);
  if (chars < kMinSecretChars) {
    return Refused("ПИН-код или пароль короче " + std::to_string(kMinSecretChars) + " символов; придумайте длиннее.");
  }
  if (chars > kMaxSecretChars) {
    return Refused("ПИН-код или пароль длиннее " + std::to_string(kMaxSecretChars) + " символов; придумайте короче.");
  }
  return {};
}

Result<> CheckThresholds(const ReportThresholds& t) {
  const std::string range = " от 1 до " + std::to_string(kMaxThresholdSeconds) + " секунд";
  if (t.ackSeconds < 1 || t.ackSeconds > kMaxThresholdSeconds) {
    return Refused("Порог подтверждения тревоги должен быть" + range + ", а не " + std::to_string(t.ackSeconds) + ".");
  }
  if (t.closeSeconds < 1 || t.closeSeconds > kMaxThresholdSeconds) {
    return Refused("Порог закрытия тревоги должен быть" + range + ", а не " + std::to_string(t.closeSeconds) + ".");
  }
  if (t.ackSeconds > t.closeSeconds) {
    return Refused("Порог подтверждения (" + std::to_string(t.ackSeconds) + " с) больше порога закрытия (" +
                   std::to_string(t.closeSeconds) + " с): тревогу закрывают после подтверждения; исправьте пороги.");
  }
  return {};
}

}  // namespace pelvaron
