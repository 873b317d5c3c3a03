#include "reports/handling_titles.h"

#include <array>
#include <utility>

namespace pelvaron {
namespace {

using Title = std::pair<std::string_view, std::string_view>;

constexpr std::array kActions{
    Title{"key-holder-called", "Звонок ответственному лицу"},
    Title{"guard-sent", "Выслана группа"},
    Title{"guard-arrived", "Группа прибыла"},
    Title{"police-called", "Вызвана полиция"},
    Title{"fire-service-called", "Вызвана пожарная охрана"},
    Title{"note", "Заметка"},
};

constexpr std::array kOutcomes{
    Title{"real", "Реальная тревога"},
    Title{"false-equipment", "Ложная тревога — неисправность оборудования"},
    Title{"false-user", "Ложная тревога — ошибка пользователя"},
    Title{"test", "Проверка или обслуживание"},
    Title{"cancelled", "Отменена ответственным лицом"},
    Title{"other", "Другое"},
};

template <std::size_t N>
std::string_view Find(const std::array<Title, N>& table, std::string_view code) {
  for (const Title& t : table) {
    if (t.first == code) return t.second;
  }
  return code;
}

}  // namespace

std::string_view ActionTitle(std::string_view code) {
  return Find(kActions, code);
}

std::string_view OutcomeTitle(std::string_view code) {
  return Find(kOutcomes, code);
}

bool IsFalseAlarm(std::string_view outcome) {
  return outcome == "false-equipment" || outcome == "false-user";
}

}  // namespace pelvaron
