#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pelvaron {

// Text from outside (an operator's note or comment, a station's name, a file
// another program wrote) must never make a protocol or log line of its own,
// nor steer the terminal that shows it. So the control characters, C0
// (U+0000..U+001F: CR, LF, TAB, ESC, BEL ...), DEL and C1 (U+0080..U+009F),
// are refused where such text comes in, or shown visibly where it cannot be
// refused (a file from outside).

bool IsControlCharacter(char32_t c);
// The check every door makes: the first control character of a UTF-8 text.
// Bytes that are no UTF-8 are no characters and do not count.
std::optional<char32_t> FirstControlCharacter(std::string_view utf8);
// How a control character is shown: "<LF>", "<ESC>", "<U+0085>".
std::string ControlCharacterMark(char32_t c);
// The operator's message at a door: "<subject> содержит управляющий символ
// <LF> (перевод строки) ..." and what to do.
std::string ControlCharacterRefusal(std::string_view subject, char32_t c);
// The text with each control character replaced by its mark.
std::string ShowControlCharacters(std::string_view utf8);

}  // namespace pelvaron
