#pragma once

#include <cstddef>
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
// The same, appended to out.
void AppendCp1251AsUtf8(std::string& out, std::string_view cp1251);
std::optional<std::string> Utf8ToCp1251(std::string_view utf8);
std::string Utf8ToCp1251Lossy(std::string_view utf8);
// The same, appended to out.
void AppendUtf8AsCp1251Lossy(std::string& out, std::string_view utf8);

// One character of UTF-8 at pos: true with its code point in cp and pos moved
// past it. False where no valid character starts: pos moves one byte on past a
// stray or cut-off byte, and past the whole of a sequence that is well formed
// but no character (an overlong form, a surrogate, past U+10FFFF).
inline bool NextUtf8CodePoint(std::string_view utf8, std::size_t& pos, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(utf8[pos]);
  const std::size_t len = b0 < 0x80 ? 1 : (b0 & 0xE0) == 0xC0 ? 2 : (b0 & 0xF0) == 0xE0 ? 3 : (b0 & 0xF8) == 0xF0 ? 4 : 0;
  if (len == 0 || pos + len > utf8.size()) {
    ++pos;
    return false;
  }
  char32_t value = len == 1 ? b0 : len == 2 ? (b0 & 0x1Fu) : len == 3 ? (b0 & 0x0Fu) : (b0 & 0x07u);
  for (std::size_t i = 1; i < len; ++i) {
    const auto b = static_cast<unsigned char>(utf8[pos + i]);
    if ((b & 0xC0) != 0x80) {
      ++pos;
      return false;
    }
    value = (value << 6) | (b & 0x3Fu);
  }
  constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
  pos += len;
  cp = value;
  return value >= kShortest[len] && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF);
}

// cp (at most U+10FFFF, no surrogate) as UTF-8, appended to out.
void AppendUtf8(std::string& out, char32_t cp);

// True when every character of the UTF-8 text fits Windows-1251.
bool FitsCp1251(std::string_view utf8);

// Number of characters (code points) in a UTF-8 text; one per byte in Windows-1251.
std::size_t Utf8Length(std::string_view utf8);
// The first max characters of a UTF-8 text, never cutting a character in two.
std::string Utf8Prefix(std::string_view utf8, std::size_t max);
std::string_view Utf8PrefixView(std::string_view utf8, std::size_t max);

}  // namespace pelvaron
