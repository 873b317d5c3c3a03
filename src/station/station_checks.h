#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/result.h"
#include "station/station_data.h"

namespace pelvaron {

// The checks of what a station types into its plans and its list of
// operators, wherever it comes in (the window, a CSV file). Each answers
// nothing, or the operator's message that names the field by subject
// ("Имя ответственного лица") and says what to do.
//
// Names, roles, guard groups and telephones reach the protocol file in the
// lines of alarm actions and sign-ins: one line each, no control character,
// every character one that Windows-1251 holds. Instructions are only shown
// beside an alarm and may hold line breaks (LF; nothing else below U+0020);
// whoever writes them into a one-line place shows the breaks visibly.

inline constexpr std::size_t kMaxNameChars = 100;
inline constexpr std::size_t kMaxPhoneChars = 40;
inline constexpr std::size_t kMaxInstructionsChars = 4000;
inline constexpr std::size_t kMinSecretChars = 4;
inline constexpr std::size_t kMaxSecretChars = 64;

// One line of text for the protocol: a name, a role, a guard group.
Result<> CheckLineText(std::string_view subject, std::string_view text, bool required);
Result<> CheckInstructions(std::string_view subject, std::string_view text);
// Loosely: digits, spaces, "+", "-", parentheses and "доб." (an extension),
// with at least one digit: "+7 (812) 555-12-34 доб. 12".
Result<> CheckTelephone(std::string_view subject, std::string_view phone);
// As the event log shows it: "0012", or a binary unit's number "4660".
Result<> CheckPlanAddress(std::string_view subject, std::string_view address);
// A name of the priority table: one word.
Result<> CheckPriorityName(std::string_view subject, std::string_view name);

// "план объекта 0012", "план по умолчанию для приоритета fire".
std::string PlanTitle(const ResponsePlan& plan);
// Every field of the plan; the message begins with the plan's title.
Result<> CheckPlan(const ResponsePlan& plan);

Result<> CheckOperatorName(std::string_view name);
// A PIN or password: its length only. The message never holds the secret.
Result<> CheckNewSecret(std::string_view secret);
Result<> CheckThresholds(const ReportThresholds& thresholds);

}  // namespace pelvaron
