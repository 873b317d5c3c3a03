#include "station/csv.h"

namespace pelvaron {
namespace {

Problem AtLine(std::size_t line, const std::string& what) {
  return Problem{"строка " + std::to_string(line) + ": " + what, {}, 0};
}

// A record ends at LF, or at CR LF.
bool RecordEndsAt(std::string_view text, std::size_t pos) {
  return text[pos] == '\n' || (text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n');
}

}  // namespace

Result<std::vector<CsvRecord>> ReadCsv(std::string_view text) {
  std::vector<CsvRecord> records;
  std::size_t pos = 0;
  std::size_t line = 1;
  while (pos < text.size()) {
    CsvRecord& record = records.emplace_back();
    record.line = line;
    for (;;) {
      std::string& field = record.fields.emplace_back();
      if (pos < text.size() && text[pos] == '"') {
        const std::size_t opened = line;
        ++pos;
        for (;;) {
          if (pos >= text.size()) {
            return AtLine(opened, "кавычки поля, открытые в этой строке, не закрыты до конца файла; закройте их.");
          }
          const char c = text[pos];
          if (c == '"' && pos + 1 < text.size() && text[pos + 1] == '"') {
            field += '"';
            pos += 2;
            continue;
          }
          ++pos;
          if (c == '"') break;
          if (c == '\n') ++line;
          field += c;
        }
        if (pos < text.size() && text[pos] != ',' && !RecordEndsAt(text, pos)) {
          return AtLine(line,
                        "после закрывающей кавычки поля идёт ещё текст; кавычку внутри поля в кавычках "
                        "удвойте (\"\").");
        }
      } else {
        while (pos < text.size() && text[pos] != ',' && !RecordEndsAt(text, pos)) {
          if (text[pos] == '"') {
            return AtLine(line,
                          "кавычка внутри поля без кавычек; такое поле целиком заключите в кавычки, а кавычки "
                          "в нём удвойте (\"\").");
          }
          field += text[pos++];
        }
      }
      if (pos < text.size() && text[pos] == ',') {
        ++pos;
        continue;
      }
      if (pos < text.size()) {
        pos += text[pos] == '\r' ? 2 : 1;
        ++line;
      }
      break;
    }
  }
  return records;
}

void AppendCsvField(std::string& out, std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += field;
    return;
  }
  out += '"';
  for (char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void AppendCsvRecord(std::string& out, const std::vector<std::string_view>& fields) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out += ',';
    AppendCsvField(out, fields[i]);
  }
  out += "\r\n";
}

}  // namespace pelvaron
