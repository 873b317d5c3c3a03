#pragma once

#include <string>
#include <string_view>

namespace pelvaron {

// Texts in the reports come from outside (an object's address, an
// operator's name, a note, an action's detail): they must show as the text
// they are and never make markup, a field or a line of their own. In both
// formats a control character shows as its mark ("<LF>", "<ESC>") and a byte
// that is no UTF-8 as U+FFFD.

// As HTML text or a quoted attribute's value: & < > " ' as references.
void AppendHtml(std::string& out, std::string_view text);
std::string Html(std::string_view text);

// One CSV field (RFC 4180): quoted, quotes doubled, when it holds a comma or
// a quote.
void AppendCsvField(std::string& out, std::string_view text);

}  // namespace pelvaron
