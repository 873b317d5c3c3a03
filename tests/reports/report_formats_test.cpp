#include "reports/report_formats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "core/cp1251.h"
#include "report_samples.h"
#include "support/strict_json.h"

namespace pelvaron {
namespace {

using testing::Json;
using testing::kShiftStart;

class ReportFormats : public testing::ReportTest {};

struct Rendered {
  std::string html, csv, json;
};

Rendered Render(const ReportData& data, ReportKind kind, const std::string& address = {}) {
  return {RenderReport(data, kind, ReportFormat::Html, address),
          RenderReport(data, kind, ReportFormat::Csv, address),
          RenderReport(data, kind, ReportFormat::Json, address)};
}

std::vector<std::string> Split(const std::string& name) {
  std::vector<std::string> parts;
  std::stringstream s(name);
  for (std::string part; std::getline(s, part, '.');) parts.push_back(part);
  return parts;
}

std::optional<std::int64_t> Number(const Json& v) {
  if (v.is_null()) return std::nullopt;
  return testing::Int(v);
}

// The JSON's value of a page's figure; "no such figure" when it has none.
std::optional<std::int64_t> JsonFigure(const Json& json, const std::string& name, bool& found) {
  const std::vector<std::string> parts = Split(name);
  static const std::map<std::string, std::string> lists{
      {"by_priority", "priority"}, {"by_object", "address"}, {"outcomes", "outcome"}, {"overdue", "address"}};
  found = false;
  if (auto list = lists.find(parts[0]); list != lists.end() && parts.size() > 1) {
    for (const Json& item : json.at(parts[0])) {
      if (item.at(list->second) != parts[1]) continue;
      const std::string field = parts.size() > 2 ? parts[2] : "alarms";
      found = item.contains(field);
      return found ? Number(item.at(field)) : std::nullopt;
    }
    return std::nullopt;
  }
  const Json* v = &json;
  for (const std::string& p : parts) {
    if (!v->is_object() || !v->contains(p)) return std::nullopt;
    v = &v->at(p);
  }
  found = true;
  return Number(*v);
}

// Every figure of the page is the JSON's or the CSV's own: the summary's
// under the JSON's names, each alarm's seconds those of its CSV row; and
// the agreed figures are all there.
TEST_F(ReportFormats, ThePagesFiguresAreTheJsonsAndTheCsvs) {
  ReportData empty;
  empty.from = kShiftStart;
  empty.to = kShiftStart + 12 * testing::kHour;
  struct Case {
    const char* name;
    ReportData data;
    ReportKind kind;
    std::string address;
  };
  const Case cases[] = {
      {"shift", testing::SampleShift(), ReportKind::Shift, ""},
      {"object", testing::SampleShift(), ReportKind::Object, "0012"},
      {"a shift without alarms", empty, ReportKind::Shift, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Rendered r = Render(c.data, c.kind, c.address);
    std::string error;
    const std::optional<Json> json = testing::ParseJson(r.json, &error);
    ASSERT_TRUE(json) << error;
    const auto csv = testing::ParseCsv(r.csv);
    ASSERT_FALSE(csv.empty());
    const std::vector<std::string>& header = csv[0];
    const auto figures = testing::HtmlFigures(r.html);
    for (const char* figure : {"ack_seconds", "close_seconds"}) {
      for (const char* part : {"count", "median", "p80", "p98_5", "max"}) {
        EXPECT_TRUE(figures.count(std::string(figure) + "." + part)) << figure << "." << part;
      }
    }
    std::size_t alarmFigures = 0;
    for (const auto& [name, value] : figures) {
      SCOPED_TRACE(name);
      const std::vector<std::string> parts = Split(name);
      if (parts[0] != "alarm") {
        bool found = false;
        const std::optional<std::int64_t> expected = JsonFigure(*json, name, found);
        EXPECT_TRUE(found) << "a figure the JSON does not have";
        EXPECT_EQ(value, expected);
        continue;
      }
      ++alarmFigures;
      const auto row =
          std::find_if(csv.begin() + 1, csv.end(), [&](const auto& record) { return record[0] == parts[1]; });
      ASSERT_NE(row, csv.end()) << "an alarm the CSV does not have";
      const std::size_t column = std::find(header.begin(), header.end(), parts[2]) - header.begin();
      ASSERT_LT(column, header.size());
      const std::string& cell = (*row)[column];
      EXPECT_EQ(value, cell.empty() ? std::nullopt : std::optional<std::int64_t>(std::stoll(cell)));
    }
    EXPECT_EQ(alarmFigures, 2 * (csv.size() - 1)) << "each CSV row's two times on the page";
    EXPECT_EQ(testing::Int(json->at("alarms")), static_cast<std::int64_t>(csv.size() - 1));
  }
}

TEST_F(ReportFormats, TheCsvHasTheAgreedColumnsAndTimesInLocalIso) {
  const std::string csv = RenderReport(testing::SampleShift(), ReportKind::Shift, ReportFormat::Csv);
  const std::string lines[] = {
      "number,station,address,priority,time,acknowledged_at,closed_at,operator,outcome,seconds_to_"
      "acknowledge,"
      "seconds_to_close\r\n",
      "101,Пульт,0012,Пожар,2026-12-07T08:05:00+03:00,2026-12-07T08:05:08+03:00,2026-12-07T08:05:45+03:00,"
      "Иванова,Реальная тревога,8,45\r\n",
      "102,Пульт,0012,Проникновение,2026-12-07T09:00:00+03:00,2026-12-07T09:00:35+03:00,"
      "2026-12-07T09:05:00+03:00,Иванова,Ложная тревога — ошибка пользователя: клиент забыл код,35,300\r\n",
      // Acknowledged and closed by nobody known.
      "104,Пульт,0034,Проникновение,2026-12-07T11:00:00+03:00,2026-12-07T11:00:40+03:00,"
      "2026-12-07T11:00:55+03:00,оператор не указан,Ложная тревога — неисправность оборудования,40,55\r\n",
      // Open at the end: no close time.
      "109,Пульт,0012,Пожар,2026-12-07T19:58:20+03:00,2026-12-07T19:58:30+03:00,,Петров,,10,\r\n",
      // Acknowledged only after the end, and by then not yet.
      "111,Пульт,0034,Неисправность,2026-12-07T19:06:40+03:00,,,,,,\r\n",
  };
  for (const std::string& line : lines) EXPECT_NE(csv.find(line), std::string::npos) << line;
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 12);
}

// Texts from outside: markup, quotes, separators, line ends, escape
// sequences, C1 controls and bytes that are no UTF-8, everywhere a text goes.
TEST_F(ReportFormats, HostileTextsStayTextInEveryFormat) {
  struct Case {
    const char* text;
    const char* shown;  // in the page and the CSV
    const char* json;   // read back from the JSON
  };
  const Case cases[] = {
      {"</td><script>alert(\"x\")</script>", "</td><script>alert(\"x\")</script>",
       "</td><script>alert(\"x\")</script>"},
      {"Tom & \"Jerry\", 'it'", "Tom & \"Jerry\", 'it'", "Tom & \"Jerry\", 'it'"},
      {"two\r\nlines", "two<CR><LF>lines", "two\r\nlines"},
      {"esc\x1b[31mred\x07", "esc<ESC>[31mred<BEL>", "esc\x1b[31mred\x07"},
      {"c1 \xc2\x85 next", "c1 <U+0085> next", "c1 \xc2\x85 next"},
      {"broken \xff\xfe bytes", "broken \xEF\xBF\xBD\xEF\xBF\xBD bytes",
       "broken \xEF\xBF\xBD\xEF\xBF\xBD bytes"},
  };
  const auto dataWith = [](const std::string& text) {
    ReportData d;
    d.from = kShiftStart;
    d.to = kShiftStart + testing::kHour;
    d.station = text;
    ReportAlarm a = testing::Alarm(1, text, "fire", 60, 10, 20, "other", text, text);
    a.station = a.priorityTitle = a.text = a.outcomeNote = text;
    a.actions = {{kShiftStart + 65, "note", text, text}};
    d.alarms = {a};
    d.overdue = {{kShiftStart, kShiftStart + 10, text}};
    d.signedIn = {{kShiftStart, kShiftStart + 10, text}};
    d.openings = {{kShiftStart + 1, text, 401, true, text, text}};
    return d;
  };
  const auto count = [](const std::string& s, char c) { return std::count(s.begin(), s.end(), c); };
  for (const ReportKind kind : {ReportKind::Shift, ReportKind::Object}) {
    const Rendered plain = Render(dataWith("x"), kind, "x");
    for (const Case& c : cases) {
      SCOPED_TRACE(c.shown);
      const Rendered r = Render(dataWith(c.text), kind, c.text);
      // The page: no markup, attribute or line of the text's own, and only
      // valid UTF-8 without control characters.
      for (char markup : {'<', '>', '"', '\''})
        EXPECT_EQ(count(r.html, markup), count(plain.html, markup)) << markup;
      EXPECT_EQ(count(r.html, '\n'), count(plain.html, '\n'));
      for (std::size_t pos = 0; pos < r.html.size();) {
        char32_t ch = 0;
        ASSERT_TRUE(NextUtf8CodePoint(r.html, pos, ch)) << "no UTF-8 at " << pos;
        ASSERT_TRUE(ch == '\n' || (ch >= 0x20 && ch != 0x7F && !(ch >= 0x80 && ch <= 0x9F)))
            << "U+" << static_cast<unsigned>(ch);
      }
      // The CSV: one record per line, the text shown as it is.
      EXPECT_EQ(count(r.csv, '\n'), 2);
      EXPECT_EQ(count(r.csv, '\r'), 2);
      const auto csv = testing::ParseCsv(r.csv);
      ASSERT_EQ(csv.size(), 2u);
      ASSERT_EQ(csv[1].size(), 11u);
      EXPECT_EQ(csv[1][1], c.shown);
      EXPECT_EQ(csv[1][7], c.shown);
      // The JSON: read back strictly, the same text.
      std::string error;
      const std::optional<Json> json = testing::ParseJson(r.json, &error);
      ASSERT_TRUE(json) << error;
      EXPECT_EQ(json->at("station"), c.json);
      EXPECT_EQ(json->at("by_object").at(0).at("address"), c.json);
    }
  }
}

// A month of a busy station: the page lists what a reader can read and says
// where the rest is; the CSV has every alarm.
TEST_F(ReportFormats, ALongListIsCutWithANoteAndTheCsvHasEveryAlarm) {
  ReportData data;
  data.from = kShiftStart;
  data.to = kShiftStart + testing::kHour;
  for (std::uint64_t id = 1; id <= 1001; ++id) {
    data.alarms.push_back(testing::Alarm(id, "0012", "fire", static_cast<std::int64_t>(id), 40));
  }
  const Rendered r = Render(data, ReportKind::Shift);
  std::size_t rows = 0;
  for (std::size_t pos = 0; (pos = r.html.find("data-alarm=", pos)) != std::string::npos; ++pos) ++rows;
  EXPECT_EQ(rows, 1000u);
  EXPECT_NE(r.html.find("Показаны первые 1000 из 1001"), std::string::npos);
  EXPECT_EQ(testing::ParseCsv(r.csv).size(), 1002u);
  EXPECT_EQ(testing::HtmlFigures(r.html).at("over_ack_threshold"), 1001);
}

TEST_F(ReportFormats, ThePageNeedsNothingFromElsewhereAndPrints) {
  for (const ReportKind kind : {ReportKind::Shift, ReportKind::Object}) {
    const std::string html = RenderReport(testing::SampleShift(), kind, ReportFormat::Html, "0012");
    for (const char* outside :
         {"<script", "http:", "https:", "src=", "href=", "url(", "@import", "<link", "<img"}) {
      EXPECT_EQ(html.find(outside), std::string::npos) << outside;
    }
    EXPECT_NE(html.find("@media print"), std::string::npos);
    EXPECT_NE(html.find("<meta charset=\"utf-8\">"), std::string::npos);
    std::size_t charts = 0;
    for (std::size_t pos = 0; (pos = html.find("<svg", pos)) != std::string::npos; ++pos) ++charts;
    EXPECT_EQ(charts, 2u);
  }
}

}  // namespace
}  // namespace pelvaron
