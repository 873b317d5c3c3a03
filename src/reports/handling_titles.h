#pragma once

#include <string_view>

namespace pelvaron {

// The titles of what an operator does with an alarm and how it ended, as the
// reports show them. Until the alarm handling's own tables are in, they are
// kept here, in one place, by code.

inline constexpr std::string_view kNoOperator = "оператор не указан";

// "Выслана группа" for "guard-sent"; an unknown code shows as it is.
std::string_view ActionTitle(std::string_view code);
// "Реальная тревога" for "real"; an unknown code shows as it is.
std::string_view OutcomeTitle(std::string_view code);
// Closed as a false alarm, whatever its cause.
bool IsFalseAlarm(std::string_view outcome);

}  // namespace pelvaron
