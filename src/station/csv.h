#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

namespace pelvaron {

// CSV as RFC 4180 has it: fields separated by commas; a field with a comma,
// a quote or a line break in quotes, its quotes doubled; records end with
// CR LF (LF alone is taken too, as spreadsheets on Linux write it).

// One record and the line of the text it starts on (1 for the first): what
// a message about it names.
struct CsvRecord {
  std::vector<std::string> fields;
  std::size_t line = 0;
};

// Every record of text; a field comes as it was written, line breaks and
// all. A malformed field (a stray quote, quotes never closed) is refused
// with its line: "строка 12: ...".
Result<std::vector<CsvRecord>> ReadCsv(std::string_view text);

// Appends the field, in quotes when it needs them.
void AppendCsvField(std::string& out, std::string_view field);
// Appends a record of fields ending with CR LF.
void AppendCsvRecord(std::string& out, const std::vector<std::string_view>& fields);

}  // namespace pelvaron
