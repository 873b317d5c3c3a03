#include "reports/report_escape.h"

#include "core/control_characters.h"
#include "core/cp1251.h"

namespace pelvaron {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The text as UTF-8 without control characters or broken bytes; ascii(c)
// gets each printable ASCII character, so that a format escapes its own.
template <class Ascii>
void AppendShown(std::string& out, std::string_view text, Ascii&& ascii) {
  for (std::size_t pos = 0; pos < text.size();) {
    const auto b = static_cast<unsigned char>(text[pos]);
    if (b >= 0x20 && b < 0x7F) {
      ascii(out, static_cast<char>(b));
      ++pos;
      continue;
    }
    const std::size_t start = pos;
    char32_t c = 0;
    if (!NextUtf8CodePoint(text, pos, c)) {
      out += kReplacement;
    } else if (IsControlCharacter(c)) {
      for (char m : ControlCharacterMark(c)) ascii(out, m);
    } else {
      out.append(text.substr(start, pos - start));
    }
  }
}

}  // namespace

void AppendHtml(std::string& out, std::string_view text) {
  AppendShown(out, text, [](std::string& o, char c) {
    switch (c) {
      case '&':
        o += "&amp;";
        break;
      case '<':
        o += "&lt;";
        break;
      case '>':
        o += "&gt;";
        break;
      case '"':
        o += "&quot;";
        break;
      case '\'':
        o += "&#39;";
        break;
      default:
        o += c;
    }
  });
}

std::string Html(std::string_view text) {
  std::string out;
  AppendHtml(out, text);
  return out;
}

void AppendCsvField(std::string& out, std::string_view text) {
  const std::size_t start = out.size();
  bool quote = false;
  AppendShown(out, text, [&quote](std::string& o, char c) {
    if (c == ',' || c == '"') quote = true;
    if (c == '"') o += '"';
    o += c;
  });
  if (quote) {
    out.insert(start, 1, '"');
    out += '"';
  }
}

}  // namespace pelvaron
