#pragma once

#include <array>
#include <string>
#include <string_view>

namespace pelvaron {

// How an alarm is handled after it has been seen: what an operator may do
// about it (each action stamped with its time and operator) and how it may
// end. The codes are what events and stores keep; the titles what people read.
struct HandlingCode {
  std::string_view code;
  std::string_view title;
};

inline constexpr std::array kAlarmActions = std::to_array<HandlingCode>({
    {"key-holder-called", "Звонок ответственному лицу"},
    {"guard-sent", "Выслана группа"},
    {"guard-arrived", "Группа прибыла"},
    {"police-called", "Вызвана полиция"},
    {"fire-service-called", "Вызвана пожарная охрана"},
    {"note", "Заметка"},
});

// What a call to a key holder came to.
inline constexpr std::array kCallResults = std::to_array<HandlingCode>({
    {"answered", "ответил"},
    {"no-answer", "не ответил"},
    {"wrong-number", "неверный номер"},
});

inline constexpr std::array kAlarmOutcomes = std::to_array<HandlingCode>({
    {"real", "Реальная тревога"},
    {"false-equipment", "Ложная тревога — неисправность оборудования"},
    {"false-user", "Ложная тревога — ошибка пользователя"},
    {"test", "Проверка или обслуживание"},
    {"cancelled", "Отменена ответственным лицом"},
    {"other", "Другое"},
});

// The outcome that says nothing by itself: it needs a note.
inline constexpr std::string_view kOutcomeNeedingNote = "other";

// A code's title in one of the tables above; empty for a code it lacks.
template <std::size_t N>
std::string_view TitleOf(const std::array<HandlingCode, N>& table, std::string_view code) {
  for (const HandlingCode& c : table) {
    if (c.code == code) return c.title;
  }
  return {};
}

// What the records say when nobody signed in did it.
inline constexpr std::string_view kNoOperator = "оператор не указан";

// "Выслана группа" for "guard-sent"; a code of a newer program shows as it is.
inline std::string_view ActionTitle(std::string_view code) {
  const std::string_view title = TitleOf(kAlarmActions, code);
  return title.empty() ? code : title;
}

inline std::string_view OutcomeTitle(std::string_view code) {
  const std::string_view title = TitleOf(kAlarmOutcomes, code);
  return title.empty() ? code : title;
}

// Closed as a false alarm, whatever its cause.
inline bool IsFalseAlarm(std::string_view outcome) {
  return outcome == "false-equipment" || outcome == "false-user";
}

}  // namespace pelvaron
