// The priority table's file: its lines read into priorities and rules, every
// bad line told.
#include "alarms/priority_table.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace pelvaron {

namespace {

struct Named {
  std::string_view name;
  int value;
};

// Loop-state messages by what they say.
constexpr std::array kLoopWhats = std::to_array<Named>({
    {"alarm", 6},
    {"duress", PriorityTable::Rule::kDuress},
    {"tamper", 1},
    {"control", 2},
    {"extra", 3},
    {"arming", 4},
    {"disarming", 5},
    {"other", PriorityTable::Rule::kOtherLoop},
});

constexpr std::array kDiallerWhats = std::to_array<Named>({
    {"control", 0},
    {"power-on", 1},
    {"case-open", 2},
    {"line-fault", 3},
});

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

bool Number(std::string_view text, int& out) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
  return ec == std::errc() && end == text.data() + text.size();
}

// "110-118,121": inclusive ranges within [0, max].
bool CodeRanges(std::string_view text, int max, std::vector<std::pair<int, int>>& out) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    std::string_view part = text.substr(start, comma == std::string_view::npos ? comma : comma - start);
    std::size_t dash = part.find('-');
    int low = 0, high = 0;
    if (dash == std::string_view::npos) {
      if (!Number(part, low)) return false;
      high = low;
    } else if (!Number(part.substr(0, dash), low) || !Number(part.substr(dash + 1), high)) {
      return false;
    }
    if (low < 0 || high > max || low > high) return false;
    out.emplace_back(low, high);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return !out.empty();
}

bool Colour(std::string_view text, std::string& out) {
  if (text == "-") {
    out.clear();
    return true;
  }
  if (text.size() != 7 || text[0] != '#') return false;
  for (char c : text.substr(1)) {
    bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex) return false;
  }
  out = std::string(text);
  return true;
}

template <std::size_t N>
bool Lookup(const std::array<Named, N>& table, std::string_view name, int& out) {
  for (const Named& n : table) {
    if (n.name == name) {
      out = n.value;
      return true;
    }
  }
  return false;
}

bool ConsoleKind(std::string_view name, EventKind& out) {
  for (EventKind kind : AllEventKinds()) {
    if (EventKindName(kind) == name && kind != EventKind::Message && kind != EventKind::AlarmAcknowledged) {
      out = kind;
      return true;
    }
  }
  return false;
}

// A table saved in another encoding would show its titles as garbage.
bool ValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t n = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 4;
    if (n == 4) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n + 1;
  }
  return true;
}

std::string Quote(std::string_view text) {
  return "«" + std::string(text) + "»";
}

// "ack,raise": one of ack, queue and log, and raise when a new alarm brings
// the queue's window to the front.
Result<> Handling(std::string_view handling, Priority& p) {
  bool handlingSeen = false;
  std::size_t start = 0;
  while (start <= handling.size()) {
    std::size_t comma = handling.find(',', start);
    std::string_view flag = handling.substr(start, comma == std::string_view::npos ? comma : comma - start);
    if (flag == "ack" || flag == "queue" || flag == "log") {
      if (handlingSeen) return Problem{"обработка " + Quote(handling) + ": только одно из ack, queue, log"};
      handlingSeen = true;
      p.handling = flag == "ack"     ? AlarmHandling::Acknowledge
                   : flag == "queue" ? AlarmHandling::Queue
                                     : AlarmHandling::Log;
    } else if (flag == "raise") {
      p.raise = true;
    } else {
      return Problem{"неизвестная обработка " + Quote(flag) + " (ack, queue, log, raise)"};
    }
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (!handlingSeen) return Problem{"обработка " + Quote(handling) + ": нужно одно из ack, queue, log"};
  return {};
}

// The rest of the line from its first word on, spaces and all, less the
// blanks at its end.
std::string Title(std::string_view line, std::string_view first) {
  std::size_t at = static_cast<std::size_t>(first.data() - line.data());
  std::string_view title = line.substr(at);
  while (!title.empty() && (title.back() == ' ' || title.back() == '\t' || title.back() == '\r'))
    title.remove_suffix(1);
  return std::string(title);
}

// A rule's source from its word, and what it tests from the word after it
// (none for default and bad-sum).
Result<> RuleWhat(std::string_view op, std::string_view what, PriorityTable::Rule& rule) {
  using Source = PriorityTable::Rule::Source;
  if (op == "default") {
    rule.source = Source::Default;
  } else if (op == "bad-sum") {
    rule.source = Source::BadSum;
  } else if (op == "cid" || op == "radio") {
    rule.source = op == "cid" ? Source::ContactId : Source::Radio;
    if (!CodeRanges(what, op == "cid" ? 999 : 255, rule.codes)) {
      return Problem{"коды " + Quote(what) + ": нужно число или диапазон через запятую, от 0 до " +
                     (op == "cid" ? "999" : "255")};
    }
  } else if (op == "loop") {
    rule.source = Source::Loop;
    if (!Lookup(kLoopWhats, what, rule.what)) {
      return Problem{"сообщение шлейфов " + Quote(what) +
                     ": alarm, duress, tamper, control, extra, arming, disarming или other"};
    }
  } else if (op == "dialler") {
    rule.source = Source::Dialler;
    if (!Lookup(kDiallerWhats, what, rule.what) &&
        !(Number(what, rule.what) && rule.what >= 0 && rule.what <= 15)) {
      return Problem{"сообщение Тамсир " + Quote(what) +
                     ": control, power-on, case-open, line-fault или номер от 0 до 15"};
    }
  } else if (op == "console") {
    rule.source = Source::Console;
    EventKind kind{};
    if (!ConsoleKind(what, kind)) return Problem{"событие консоли " + Quote(what) + " неизвестно"};
    rule.what = static_cast<int>(kind);
  }
  return {};
}

}  // namespace

struct PriorityTableParser {
  ParsedPriorityTable result;
  int lineNumber = 0;
  bool rulesBegun = false;

  void Error(const std::string& what) {
    result.errors.push_back("строка " + std::to_string(lineNumber) + ": " + what);
  }

  void PriorityLine(std::string_view line, const std::vector<std::string_view>& words) {
    if (rulesBegun) return Error("приоритеты объявляются до правил");
    if (words.size() < 4) return Error("нужно: priority ИМЯ ОБРАБОТКА ЦВЕТ НАЗВАНИЕ");
    Priority p;
    p.name = std::string(words[1]);
    if (result.table.Find(p.name) >= 0) return Error("приоритет " + Quote(p.name) + " объявлен дважды");
    if (Result<> handled = Handling(words[2], p); !handled) return Error(handled.problem().text);
    if (!Colour(words[3], p.colour)) return Error("цвет " + Quote(words[3]) + ": нужно #RRGGBB или -");
    if (words.size() > 4) p.title = Title(line, words[4]);
    if (p.title.empty()) p.title = p.name;
    result.table.priorities_.push_back(std::move(p));
  }

  bool PriorityOf(std::string_view name, int& out) {
    out = result.table.Find(name);
    if (out >= 0) return true;
    Error("неизвестный приоритет " + Quote(name) + " (объявите его строкой priority выше)");
    return false;
  }

  void RuleLine(const std::vector<std::string_view>& words) {
    PriorityTable::Rule rule;
    std::string_view op = words[0];
    constexpr std::string_view kWords[] = {"cid", "radio", "loop", "dialler", "console", "bad-sum", "default"};
    if (std::find(std::begin(kWords), std::end(kWords), op) == std::end(kWords)) {
      return Error("неизвестное слово " + Quote(op) +
                   " (priority, cid, radio, loop, dialler, console, bad-sum, default)");
    }
    const bool bare = op == "default" || op == "bad-sum";
    if (words.size() != (bare ? 2u : 3u)) {
      return Error(bare ? "нужно: " + std::string(op) + " ПРИОРИТЕТ"
                        : "нужно: " + std::string(op) + " ЧТО ПРИОРИТЕТ");
    }
    if (!PriorityOf(words.back(), rule.priority)) return;
    if (Result<> tested = RuleWhat(op, bare ? std::string_view() : words[1], rule); !tested)
      return Error(tested.problem().text);
    result.table.rules_.push_back(std::move(rule));
  }

  void Line(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!ValidUtf8(line)) return Error("текст не в кодировке UTF-8");
    std::vector<std::string_view> words = Words(line);
    if (words.empty() || words[0].front() == '#') return;
    if (words[0] == "priority") {
      PriorityLine(line, words);
    } else {
      rulesBegun = true;
      RuleLine(words);
    }
  }
};

ParsedPriorityTable ParsePriorityTable(std::string_view text) {
  PriorityTableParser parser;
  // A byte-order mark from an editor is no error.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    ++parser.lineNumber;
    parser.Line(text.substr(start, end - start));
    start = end + 1;
  }
  if (parser.result.errors.empty() && parser.result.table.priorities().empty()) {
    parser.result.errors.push_back("в таблице нет ни одного приоритета");
  }
  return std::move(parser.result);
}

}  // namespace pelvaron
