#include "store/history_format.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "core/control_characters.h"
#include "core/cp1251.h"
#include "core/json_writer.h"
#include "decode/message_json.h"
#include "events/event_sequence.h"

namespace pelvaron {

namespace {

std::string Title(const PriorityTitle& title, const std::string& name) {
  if (name.empty()) return {};
  return title ? title(name) : name;
}

std::string RoleName(int role) {
  switch (role) {
    case 1:
      return "alarm";
    case 2:
      return "restore";
    case 3:
      return "acknowledgement";
    default:
      return "";
  }
}

// Pads to width characters (not bytes: the texts are Russian).
void Cell(std::string& line, const std::string& text, std::size_t width, bool right = false) {
  const std::size_t length = Utf8Length(text);
  const std::string pad(length < width ? width - length : 0, ' ');
  if (right) line += pad;
  line += text;
  if (!right) line += pad;
  line += "  ";
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// A spreadsheet field: quoted when it holds the separator, a quote or a line
// end; one that a spreadsheet would take for a formula starts with an
// apostrophe, which shows it as the text it is.
std::string SheetField(const std::string& text) {
  std::string value = text;
  if (!value.empty() && std::string_view("=+-@\t\r").find(value[0]) != std::string_view::npos) value = "'" + value;
  if (value.find_first_of(";\"\r\n") == std::string::npos) return value;
  std::string out = "\"";
  for (char c : value) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// An address of digits as a formula of a text constant: the one form both
// common spreadsheets keep as "0012" instead of turning it into the number 12.
std::string SheetAddress(const std::string& address) {
  const bool digits = !address.empty() && std::all_of(address.begin(), address.end(), [](char c) {
    return c >= '0' && c <= '9';
  });
  return digits ? "=\"" + address + "\"" : SheetField(address);
}

}  // namespace

std::string OperatorTime(std::int64_t time) {
  const std::time_t t = static_cast<std::time_t>(time);
  std::tm tm{};
  if (localtime_r(&t, &tm) == nullptr) return std::to_string(time);
  char text[32];
  std::strftime(text, sizeof text, "%d.%m.%Y %H:%M:%S", &tm);
  return text;
}

std::string ReadableTime(const std::string& iso) {
  // "2026-12-07T10:22:20+03:00" -> "2026-12-07 10:22:20"
  if (iso.size() < 19 || iso[10] != 'T') return iso;
  std::string out = iso.substr(0, 19);
  out[10] = ' ';
  return out;
}

std::string IsoTimeOf(std::int64_t time) {
  const std::time_t t = static_cast<std::time_t>(time);
  std::tm tm{};
  if (localtime_r(&t, &tm) == nullptr) return std::to_string(time);
  return IsoLocalTime(tm);
}

std::optional<std::int64_t> ParseTimeArgument(const std::string& text, bool endOfDay) {
  std::tm tm{};
  int consumed = 0;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  bool dateOnly = false;
  const char* s = text.c_str();
  if (std::sscanf(s, "%4d-%2d-%2d%n", &year, &month, &day, &consumed) == 3 ||
      std::sscanf(s, "%2d.%2d.%4d%n", &day, &month, &year, &consumed) == 3) {
    const std::string rest = text.substr(static_cast<std::size_t>(consumed));
    int more = 0;
    if (rest.empty()) {
      dateOnly = true;
    } else if ((rest[0] == ' ' || rest[0] == 'T') &&
               std::sscanf(rest.c_str() + 1, "%2d:%2d%n", &hour, &minute, &more) == 2) {
      std::string tail = rest.substr(1 + static_cast<std::size_t>(more));
      int secs = 0;
      if (!tail.empty() && !(std::sscanf(tail.c_str(), ":%2d%n", &second, &secs) == 1 &&
                             static_cast<std::size_t>(secs) == tail.size())) {
        return std::nullopt;
      }
    } else {
      return std::nullopt;
    }
  } else {
    return std::nullopt;
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  if (dateOnly && endOfDay) {
    hour = 23;
    minute = 59;
    second = 59;
  }
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1) || tm.tm_mday != day) return std::nullopt;
  return static_cast<std::int64_t>(t);
}

std::vector<std::string> AddressForms(const std::string& typed) {
  std::vector<std::string> forms{typed};
  bool digits = !typed.empty() && typed.size() < 4;
  for (char c : typed) digits = digits && c >= '0' && c <= '9';
  if (digits) forms.push_back(std::string(4 - typed.size(), '0') + typed);
  return forms;
}

std::string FormatHistoryTable(const std::vector<StoredEvent>& events, const PriorityTitle& title) {
  std::size_t seqWidth = 1, priorityWidth = 9, addressWidth = 5;
  for (const StoredEvent& e : events) {
    seqWidth = std::max(seqWidth, std::to_string(e.seq).size());
    priorityWidth = std::max(priorityWidth, Utf8Length(ShowControlCharacters(Title(title, e.cls.priority))));
    addressWidth = std::max(addressWidth, Utf8Length(ShowControlCharacters(e.address)));
  }
  std::string out;
  Cell(out, "№", seqWidth, true);
  Cell(out, "Время", 19);
  Cell(out, "Адрес", addressWidth);
  Cell(out, "Приоритет", priorityWidth);
  out += "Событие\n";
  for (const StoredEvent& e : events) {
    std::string line;
    Cell(line, std::to_string(e.seq), seqWidth, true);
    Cell(line, ShowControlCharacters(ReadableTime(e.timeText)), 19);
    Cell(line, ShowControlCharacters(e.address), addressWidth);
    Cell(line, ShowControlCharacters(Title(title, e.cls.priority)), priorityWidth);
    line += ShowControlCharacters(e.text);
    if (e.acknowledged) {
      line += "  [подтверждена " + ReadableTime(IsoTimeOf(e.ackTime));
      if (!e.ackNote.empty()) line += ": " + ShowControlCharacters(e.ackNote);
      line += "]";
    } else if (e.cls.role == 1) {
      line += "  [не подтверждена]";
    }
    out += line + "\n";
  }
  return out;
}

std::string FormatHistoryCsv(const std::vector<StoredEvent>& events, const PriorityTitle& title) {
  std::string out = "seq,time,station,kind,address,priority,role,text,detail,acknowledged,note\r\n";
  for (const StoredEvent& e : events) {
    out += std::to_string(e.seq) + "," + CsvField(e.timeText) + "," + CsvField(e.station) + "," + CsvField(e.kind) +
           "," + CsvField(e.address) + "," + CsvField(Title(title, e.cls.priority)) + "," + RoleName(e.cls.role) +
           "," + CsvField(e.text) + "," + CsvField(e.detail) + "," +
           (e.acknowledged ? CsvField(IsoTimeOf(e.ackTime)) : std::string()) + "," + CsvField(e.ackNote) + "\r\n";
  }
  return out;
}

std::string FormatHistorySpreadsheet(const std::vector<StoredEvent>& events, const PriorityTitle& title) {
  std::string out = "\xEF\xBB\xBF№;Время;Адрес;Приоритет;Событие;Подтверждение;Примечание\r\n";
  for (const StoredEvent& e : events) {
    std::string acknowledgement;
    if (e.acknowledged) {
      acknowledgement = OperatorTime(e.ackTime);
    } else if (e.cls.role == 1) {
      acknowledgement = "не подтверждена";
    }
    out += std::to_string(e.seq) + ";" + OperatorTime(e.time) + ";" + SheetAddress(e.address) + ";" +
           SheetField(Title(title, e.cls.priority)) + ";" + SheetField(e.text) + ";" + acknowledgement + ";" +
           SheetField(e.ackNote) + "\r\n";
  }
  return out;
}

std::string FormatHistoryJson(const std::vector<StoredEvent>& events) {
  std::string out;
  for (const StoredEvent& e : events) {
    JsonWriter json(out);
    json.BeginObject();
    json.Key("seq").Int(static_cast<std::int64_t>(e.seq));
    json.Key("time").String(e.timeText);
    json.Key("station").String(e.station);
    json.Key("kind").String(e.kind);
    json.Key("address").String(e.address);
    json.Key("priority").String(e.cls.priority);
    json.Key("role").String(RoleName(e.cls.role));
    json.Key("text").String(e.text);
    if (!e.command.empty()) json.Key("command").String(e.command);
    if (!e.detail.empty()) json.Key("detail").String(e.detail);
    if (e.ref != 0) json.Key("ref").Int(static_cast<std::int64_t>(e.ref));
    if (!e.frame.empty()) json.Key("frame").StringWith([&](std::string& text) { AppendFrameHex(text, e.frame); });
    if (e.cls.role == 1) {
      json.Key("acknowledged");
      if (e.acknowledged) {
        json.String(IsoTimeOf(e.ackTime));
        json.Key("note").String(e.ackNote);
      } else {
        json.Null();
      }
    }
    json.EndObject();
    out += '\n';
  }
  return out;
}

}  // namespace pelvaron
