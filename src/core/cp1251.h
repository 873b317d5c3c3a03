#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pelvaron {

// Windows-1251 is spoken only at the file edges; inside, every text is UTF-8.
//
// The mapping is the Windows code page's. Its one undefined byte, 0x98, maps to
// U+0098 and back, as Windows itself converts it, so every byte round-trips.
// A character the code page cannot hold (and malformed UTF-8) is refused by
// Utf8ToCp1251; Utf8ToCp1251Lossy writes '?' for it instead.

std::string Cp1251ToUtf8(std::string_view cp1251);
std::optional<std::string> Utf8ToCp1251(std::string_view utf8);
std::string Utf8ToCp1251Lossy(std::string_view utf8);
// The same, appended to out.
void AppendUtf8AsCp1251Lossy(std::string& out, std::string_view utf8);

// True when every character of the UTF-8 text fits Windows-1251.
bool FitsCp1251(std::string_view utf8);

// Number of characters (code points) in a UTF-8 text; one per byte in Windows-1251.
std::size_t Utf8Length(std::string_view utf8);
// The first max characters of a UTF-8 text, never cutting a character in two.
std::string Utf8Prefix(std::string_view utf8, std::size_t max);
std::string_view Utf8PrefixView(std::string_view utf8, std::size_t max);

}  // namespace pelvaron
