#include "report_samples.h"

#include <stdlib.h>

#include <ctime>
#include <regex>

namespace pelvaron::testing {

void ReportTest::SetUp() {
  if (const char* tz = getenv("TZ")) savedTz_ = tz;
  setenv("TZ", "Europe/Moscow", 1);
  tzset();
}

void ReportTest::TearDown() {
  if (savedTz_) {
    setenv("TZ", savedTz_->c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

ReportAlarm Alarm(std::uint64_t id, std::string address, std::string priority, std::int64_t at,
                  std::optional<std::int64_t> ackAfter, std::optional<std::int64_t> closeAfter,
                  std::string outcome, std::string ackOperator, std::string closeOperator) {
  static const std::map<std::string, std::string> titles{
      {"fire", "Пожар"}, {"panic", "Нападение"}, {"burglary", "Проникновение"}, {"trouble", "Неисправность"}};
  ReportAlarm a;
  a.id = id;
  a.station = "Пульт";
  a.address = std::move(address);
  a.priority = std::move(priority);
  a.priorityTitle = titles.count(a.priority) ? titles.at(a.priority) : a.priority;
  a.text = "Тревога";
  a.time = kShiftStart + at;
  if (ackAfter) a.acknowledged = a.time + *ackAfter;
  if (closeAfter) a.closed = a.time + *closeAfter;
  a.outcome = std::move(outcome);
  a.ackOperator = std::move(ackOperator);
  a.closeOperator = std::move(closeOperator);
  return a;
}

ReportData SampleShift() {
  const std::int64_t end = 12 * kHour;
  ReportData d;
  d.from = kShiftStart;
  d.to = kShiftStart + end;
  d.station = "Пульт";
  d.priorities = {{"fire", "Пожар", "#FF4040"},
                  {"panic", "Нападение", "#FF70D0"},
                  {"burglary", "Проникновение", "#FFA040"},
                  {"tamper", "Вскрытие", "#FFE060"},
                  {"trouble", "Неисправность", ""},
                  {"information", "Информация", ""}};
  d.alarms = {
      Alarm(100, "0012", "fire", -600, 5, 20, "real", "Иванова", "Иванова"),  // before the shift
      Alarm(101, "0012", "fire", 300, 8, 45, "real", "Иванова", "Иванова"),
      Alarm(102, "0012", "burglary", kHour, 35, 300, "false-user", "Иванова", "Иванова"),
      Alarm(103, "0034", "burglary", 2 * kHour, 12, 50, "false-equipment", "", "Иванова"),
      Alarm(104, "0034", "burglary", 3 * kHour, 40, 55, "false-equipment", "", ""),
      Alarm(105, "0056", "panic", 5 * kHour, 5, 30, "test", "Иванова", "Иванова"),
      Alarm(106, "0056", "fire", 7 * kHour, 20, 120, "real", "Петров", "Петров"),
      Alarm(107, "0012", "burglary", 8 * kHour, 25, 58, "cancelled", "Петров", "Петров"),
      Alarm(108, "0034", "burglary", 9 * kHour, 30, 60, "false-user", "Петров", "Петров"),
      Alarm(109, "0012", "fire", end - 100, 10, {}, "", "Петров"),  // open at the end
      Alarm(110, "0056", "burglary", end - 10),                     // waiting at the end
      Alarm(111, "0034", "trouble", 40000, end - 40000 + 500),      // acknowledged after the end
  };
  d.alarms[1].actions = {
      {kShiftStart + 320, "key-holder-called", "Сидоров (директор), +7 900 000-00-00: ответил", "Иванова"},
      {kShiftStart + 325, "guard-sent", "", "Иванова"}};
  d.alarms[2].outcomeNote = "клиент забыл код";
  const auto at = [](std::int64_t from, std::int64_t to, std::string who) {
    return Interval{kShiftStart + from, kShiftStart + to, std::move(who)};
  };
  d.overdue = {at(-1800, 1200, "0056"), at(20000, 20600, "0034"), at(43000, 45000, "0034"),
               at(43300, 43400, "0012")};
  d.linkDown = {at(14400, 14520, ""), at(43100, 44000, "")};
  d.lineDown = {at(-600, 60, "")};
  d.signedIn = {at(-1800, 4 * kHour, "Иванова"), at(4 * kHour, 13 * kHour, "Петров")};
  const auto opening = [](std::int64_t t, std::string address, bool open) {
    return OpeningClosing{kShiftStart + t,
                          std::move(address),
                          401,
                          open,
                          "3",
                          open ? "Снятие пользователем" : "Взятие пользователем"};
  };
  d.openings = {opening(-3600, "0012", false), opening(120, "0012", true),     opening(40200, "0012", false),
                opening(86460, "0012", true),  opening(126400, "0012", false), opening(500, "0034", true)};
  return d;
}

std::optional<std::int64_t> FigureValue(const std::string& text) {
  static const std::map<std::string, std::int64_t> units{{"сут", 86400}, {"ч", 3600}, {"мин", 60}, {"с", 1}};
  static const std::regex number(R"((\d+)(?: (сут|ч|мин|с)(?= |$))?)");
  std::optional<std::int64_t> value;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), number); it != std::sregex_iterator(); ++it) {
    const std::int64_t n = std::stoll((*it)[1]);
    if (!(*it)[2].matched) return value ? value : n;
    value = value.value_or(0) + n * units.at((*it)[2]);
  }
  return value;
}

std::map<std::string, std::optional<std::int64_t>> HtmlFigures(const std::string& html) {
  static const std::regex figure(R"re(data-figure="([^"]*)">([^<]*)<)re");
  std::map<std::string, std::optional<std::int64_t>> figures;
  for (auto it = std::sregex_iterator(html.begin(), html.end(), figure); it != std::sregex_iterator(); ++it) {
    figures[(*it)[1]] = FigureValue((*it)[2]);
  }
  return figures;
}

std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        records.back().back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        records.back().back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      records.back().emplace_back();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      records.emplace_back(1);
      ++i;
    } else {
      records.back().back() += c;
    }
  }
  if (records.back().size() == 1 && records.back()[0].empty()) records.pop_back();
  return records;
}

}  // namespace pelvaron::testing
