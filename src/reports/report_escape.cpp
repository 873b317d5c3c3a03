#include "reports/report_escape.h"

#include "core/control_characters.h"
#include "core/cp1251.h"

namespace pelvaron {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The text as UTF-8 without control characters or broken bytes; escape(c)
// gets each printable ASCII character that special(c) names, so that a format
// escapes its own; everything else is copied in runs.
template <class Special, class Escape>
void AppendShown(std::string& out, std::string_view text, Special&& special, Escape&& escape) {
  std::size_t run = 0;
  const auto flush = [&](std::size_t end) { out.append(text.data() + run, end - run); };
  for (std::size_t pos = 0; pos < text.size();) {
    const auto b = static_cast<unsigned char>(text[pos]);
    if (b >= 0x20 && b < 0x7F) {
      if (special(static_cast<char>(b))) {
        flush(pos);
        escape(out, static_cast<char>(b));
        run = pos + 1;
      }
      ++pos;
      continue;
    }
    const std::size_t start = pos;
    char32_t c = 0;
    const bool valid = NextUtf8CodePoint(text, pos, c);
    if (valid && !IsControlCharacter(c)) continue;
    flush(start);
    if (valid) {
      for (char m : ControlCharacterMark(c)) escape(out, m);
    } else {
      out += kReplacement;
    }
    run = pos;
  }
  flush(text.size());
}

}  // namespace

void AppendHtml(std::string& out, std::string_view text) {
  const auto special = [](char c) { return c == '&' || c == '<' || c == '>' || c == '"' || c == '\''; };
  AppendShown(out, text, special, [](std::string& o, char c) {
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
  AppendShown(
      out, text, [](char c) { return c == ',' || c == '"'; },
      [&quote](std::string& o, char c) {
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
