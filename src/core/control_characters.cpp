#include "core/control_characters.h"

#include <cstdio>

#include "core/cp1251.h"

namespace pelvaron {
namespace {

constexpr const char* kC0Names[] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                    "BS",  "TAB", "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                    "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                    "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

// Most texts hold none: a byte scan says so without decoding.
bool MayHoldControl(std::string_view utf8) {
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x20 || b == 0x7F) return true;
    // U+0080..U+009F are C2 80..C2 9F.
    if (b == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) <= 0x9F) return true;
  }
  return false;
}

}  // namespace

bool IsControlCharacter(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

std::optional<char32_t> FirstControlCharacter(std::string_view utf8) {
  if (!MayHoldControl(utf8)) return std::nullopt;
  for (std::size_t pos = 0; pos < utf8.size();) {
    char32_t c = 0;
    if (NextUtf8CodePoint(utf8, pos, c) && IsControlCharacter(c)) return c;
  }
  return std::nullopt;
}

std::string ControlCharacterMark(char32_t c) {
  if (c < 0x20) return std::string("<") + kC0Names[c] + ">";
  if (c == 0x7F) return "<DEL>";
  char text[16];
  std::snprintf(text, sizeof text, "<U+%04X>", static_cast<unsigned>(c));
  return text;
}

std::string ControlCharacterRefusal(std::string_view subject, char32_t c) {
  std::string text(subject);
  text += " содержит управляющий символ " + ControlCharacterMark(c);
  switch (c) {
    case 0x0A:
      text += " (перевод строки)";
      break;
    case 0x0D:
      text += " (возврат каретки)";
      break;
    case 0x09:
      text += " (табуляция)";
      break;
    default:
      break;
  }
  text += ". Такие символы искажают протокол и журнал; напишите текст одной строкой без них.";
  return text;
}

std::string ShowControlCharacters(std::string_view utf8) {
  if (!MayHoldControl(utf8)) return std::string(utf8);
  std::string out;
  out.reserve(utf8.size() + 8);
  for (std::size_t pos = 0; pos < utf8.size();) {
    const std::size_t start = pos;
    char32_t c = 0;
    if (NextUtf8CodePoint(utf8, pos, c) && IsControlCharacter(c)) {
      out += ControlCharacterMark(c);
    } else {
      out.append(utf8.substr(start, pos - start));
    }
  }
  return out;
}

}  // namespace pelvaron
