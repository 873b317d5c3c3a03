#include "reports/report_sections.h"

#include <set>

#include "events/alarm_handling.h"
#include "reports/report_charts.h"
#include "reports/report_csv.h"
#include "reports/report_escape.h"
#include "reports/report_time.h"

namespace pelvaron {
namespace {

constexpr std::string_view kNone = "—";

// A page of more rows is read by nobody and printed by no one: past this the
// lists say how many there are and that the CSV holds them all.
constexpr std::size_t kRowLimit = 1000;

void CutNote(HtmlPage& page, std::size_t rows) {
  if (rows <= kRowLimit) return;
  page.Paragraph("Показаны первые " + std::to_string(kRowLimit) + " из " + std::to_string(rows) +
                     "; все тревоги с их временами — в отчёте CSV (pelvaron-report … --format csv).",
                 "none");
}

std::string Count(std::size_t n) {
  return std::to_string(n);
}

std::string Seconds(std::optional<std::int64_t> seconds) {
  return seconds ? DurationText(*seconds) : std::string(kNone);
}

void FigureRow(HtmlPage& page, std::string_view title, std::string_view key, const TimeFigures& f,
               std::int64_t threshold, std::string_view thresholdKey, std::string_view withinKey,
               std::size_t within) {
  const std::string k(key);
  page.BeginRow();
  page.Cell(title);
  page.FigureCell(k + ".count", Count(f.count), "n");
  const auto value = [&](const char* name, std::int64_t v) {
    if (f.count == 0) {
      page.FigureCell(k + "." + name, kNone, "n");
    } else {
      page.FigureCell(k + "." + name, DurationText(v), v > threshold ? "n over" : "n");
    }
  };
  value("median", f.median);
  value("p80", f.p80);
  value("p98_5", f.p98_5);
  value("max", f.max);
  page.FigureCell(thresholdKey, DurationText(threshold), "n");
  page.FigureCell(withinKey, Count(within), "n");
  page.Cell(PercentText(within, f.count), "n");
  page.EndRow();
}

// A time after the alarm's: its time of day alone on the alarm's day.
std::string LaterText(std::int64_t alarm, std::int64_t later) {
  return SameLocalDay(alarm, later) ? TimeOfDayText(later) : TimeText(later);
}

std::string Operator(std::string_view name) {
  return std::string(name.empty() ? kNoOperator : name);
}

void OverThresholdTable(HtmlPage& page, const ShiftReport& r, const std::vector<OverThreshold>& over,
                        std::string_view notDone) {
  if (over.empty()) {
    page.Paragraph("Нет.", "none");
    return;
  }
  page.BeginTable({"№", "Время", "Объект", "Приоритет", "Событие", "Заняло", "Оператор"});
  for (std::size_t row = 0; row < over.size() && row < kRowLimit; ++row) {
    const OverThreshold& o = over[row];
    const ReportAlarm& a = *r.alarms[o.alarm].alarm;
    page.BeginRow();
    page.Cell(std::to_string(a.id), "n");
    page.Cell(TimeText(a.time), "t");
    page.Cell(a.address);
    page.Cell(a.priorityTitle.empty() ? a.priority : a.priorityTitle);
    page.Cell(a.text);
    if (o.done) {
      page.Cell(DurationText(o.seconds), "n over");
      page.Cell(Operator(o.operatorName));
    } else {
      page.Cell(DurationText(o.seconds) + " и более", "n over");
      page.Cell(notDone, "open");
    }
    page.EndRow();
  }
  page.EndTable();
  CutNote(page, over.size());
}

}  // namespace

std::string RangeText(const ShiftReport& r) {
  std::string text;
  if (!r.station.empty()) text += "Станция «" + r.station + "», ";
  text += "с " + TimeText(r.from) + " по " + TimeText(r.to) + " (" + DurationText(r.to - r.from) + ")";
  return text;
}

void CountsSection(HtmlPage& page, const ShiftReport& r) {
  page.Heading("Сводка");
  page.BeginTable({"Тревог", "Подтверждено", "Закрыто", "Не закрыто к концу периода"});
  page.BeginRow();
  page.FigureCell("alarms", Count(r.alarms.size()), "n");
  page.FigureCell("acknowledged", Count(r.acknowledged), "n");
  page.FigureCell("closed", Count(r.closed), "n");
  page.FigureCell("open", Count(r.open), r.open > 0 ? "n open" : "n");
  page.EndRow();
  page.EndTable();
}

void TimesSection(HtmlPage& page, const ShiftReport& r) {
  page.Heading("Время подтверждения и закрытия");
  page.BeginTable(
      {"", "Измерено", "Медиана", "80 %", "98,5 %", "Максимум", "Порог", "В пределах порога", "Доля"});
  FigureRow(page, "От тревоги до подтверждения", "ack_seconds", r.ack, r.thresholds.ackSeconds,
            "thresholds.ack_seconds", "ack_within_threshold", r.ackWithin);
  FigureRow(page, "От тревоги до закрытия", "close_seconds", r.close, r.thresholds.closeSeconds,
            "thresholds.close_seconds", "close_within_threshold", r.closeWithin);
  page.EndTable();
  page.Paragraph(
      "Перцентили по ближайшему рангу: 80 % тревог подтверждены (закрыты) не дольше указанного. "
      "Тревоги, не подтверждённые (не закрытые) к концу периода, в расчёт не входят и перечислены ниже.");
  AppendAlarmsPerHourChart(page.out(), r);
  AppendAckDistributionChart(page.out(), r);
}

void PrioritySection(HtmlPage& page, const ShiftReport& r) {
  page.Heading("Тревоги по приоритетам");
  if (r.byPriority.empty()) {
    page.Paragraph("Тревог не было.", "none");
    return;
  }
  page.BeginTable({"Приоритет", "Тревог"});
  for (const PriorityCount& p : r.byPriority) {
    page.BeginRow();
    page.Cell(p.title);
    page.FigureCell("by_priority." + p.name, Count(p.count), "n");
    page.EndRow();
  }
  page.EndTable();
}

void ObjectsSection(HtmlPage& page, const ShiftReport& r) {
  page.Heading("Тревоги по объектам и ложные тревоги");
  if (r.byObject.empty()) {
    page.Paragraph("Тревог не было.", "none");
    return;
  }
  page.BeginTable({"Объект", "Тревог", "Закрыто", "Ложных", "Доля ложных среди закрытых"});
  for (const ObjectAlarms& o : r.byObject) {
    const std::string k = "by_object." + o.address;
    page.BeginRow();
    page.Cell(o.address);
    page.FigureCell(k + ".alarms", Count(o.alarms), "n");
    page.FigureCell(k + ".closed", Count(o.closed), "n");
    page.FigureCell(k + ".false_alarms", Count(o.falseAlarms), "n");
    page.FigureCell(k + ".false_alarm_percent",
                    o.falsePercent ? std::to_string(*o.falsePercent) + " %" : std::string(kNone), "n");
    page.EndRow();
  }
  page.EndTable();
}

void OutcomesSection(HtmlPage& page, const ShiftReport& r) {
  page.Heading("Исходы");
  if (r.outcomes.empty()) {
    page.Paragraph("Закрытых тревог нет.", "none");
    return;
  }
  page.BeginTable({"Исход", "Тревог"});
  for (const OutcomeCount& o : r.outcomes) {
    page.BeginRow();
    page.Cell(OutcomeTitle(o.code));
    page.FigureCell("outcomes." + o.code, Count(o.count), "n");
    page.EndRow();
  }
  page.EndTable();
}

void OverThresholdSections(HtmlPage& page, const ShiftReport& r) {
  page.Heading("Подтверждены позже порога (" + DurationText(r.thresholds.ackSeconds) + ")");
  page.FigureParagraph("Тревог", "over_ack_threshold", Count(r.overAck.size()));
  OverThresholdTable(page, r, r.overAck, "не подтверждена");
  page.Heading("Закрыты позже порога (" + DurationText(r.thresholds.closeSeconds) + ")");
  page.FigureParagraph("Тревог", "over_close_threshold", Count(r.overClose.size()));
  OverThresholdTable(page, r, r.overClose, "не закрыта");
}

void OverdueSection(HtmlPage& page, const ShiftReport& r) {
  page.Heading("Объекты без контрольного сообщения в срок");
  page.FigureParagraph("Всего", "overdue_seconds", DurationText(r.overdue.seconds));
  if (r.overdueByObject.empty()) {
    page.Paragraph("Нет.", "none");
    return;
  }
  page.BeginTable({"Объект", "Раз", "Всего"});
  for (const TimeSpent& s : r.overdueByObject) {
    page.BeginRow();
    page.Cell(s.who);
    page.FigureCell("overdue." + s.who + ".times", Count(s.times), "n");
    page.FigureCell("overdue." + s.who + ".seconds", DurationText(s.seconds), "n");
    page.EndRow();
  }
  page.EndTable();
  IntervalRows(page, r.overdue.intervals, "Объект");
}

void IntervalRows(HtmlPage& page, const std::vector<Interval>& intervals, std::string_view whoHeader) {
  if (intervals.empty()) return;
  if (whoHeader.empty()) {
    page.BeginTable({"С", "По", "Длительность"});
  } else {
    page.BeginTable({whoHeader, "С", "По", "Длительность"});
  }
  for (const Interval& i : intervals) {
    page.BeginRow();
    if (!whoHeader.empty()) page.Cell(i.who);
    page.Cell(TimeText(i.from), "t");
    page.Cell(TimeText(i.to), "t");
    page.Cell(DurationText(i.to - i.from), "n");
    page.EndRow();
  }
  page.EndTable();
}

void AlarmListSection(HtmlPage& page, const ShiftReport& r, bool withActions) {
  page.Heading("Тревоги");
  if (r.alarms.empty()) {
    page.Paragraph("Тревог не было.", "none");
    return;
  }
  std::set<std::string_view> stations;
  for (const AlarmTimes& t : r.alarms) stations.insert(t.alarm->station);
  const bool station = stations.size() > 1;
  if (station) {
    page.BeginTable({"№", "Станция", "Время", "Объект", "Приоритет", "Событие", "Подтверждена", "Закрыта",
                     "Оператор", "Исход", "До подтверждения", "До закрытия"},
                    "list");
  } else {
    page.BeginTable({"№", "Время", "Объект", "Приоритет", "Событие", "Подтверждена", "Закрыта", "Оператор",
                     "Исход", "До подтверждения", "До закрытия"},
                    "list");
  }
  const std::size_t columns = station ? 12 : 11;
  std::string id, attributes, key;
  for (std::size_t row = 0; row < r.alarms.size() && row < kRowLimit; ++row) {
    const AlarmTimes& t = r.alarms[row];
    const ReportAlarm& a = *t.alarm;
    id = std::to_string(a.id);
    attributes = "data-alarm=\"" + id + "\"";
    page.BeginRow(attributes);
    page.Cell(id, "n");
    if (station) page.Cell(a.station);
    page.Cell(TimeText(a.time), "t");
    page.Cell(a.address);
    page.Cell(a.priorityTitle.empty() ? a.priority : a.priorityTitle);
    page.Cell(a.text);
    page.Cell(t.acknowledged ? LaterText(a.time, *t.acknowledged) : "не подтверждена",
              t.acknowledged ? "t" : "t open");
    page.Cell(t.closed ? LaterText(a.time, *t.closed) : "не закрыта", t.closed ? "t" : "t open");
    page.Cell(HandledBy(t));
    page.Cell(OutcomeText(t));
    key = "alarm." + id;
    const bool lateAck = t.ackSeconds && *t.ackSeconds > r.thresholds.ackSeconds;
    const bool lateClose = t.closeSeconds && *t.closeSeconds > r.thresholds.closeSeconds;
    page.FigureCell(key + ".seconds_to_acknowledge", Seconds(t.ackSeconds), lateAck ? "n over" : "n");
    page.FigureCell(key + ".seconds_to_close", Seconds(t.closeSeconds), lateClose ? "n over" : "n");
    page.EndRow();
    if (!withActions || a.actions.empty()) continue;
    std::string& out = page.out();
    out += "<tr class=\"actions\"><td></td><td colspan=\"" + std::to_string(columns - 1) + "\"><ul>";
    for (const ReportAction& act : a.actions) {
      if (act.time > r.to) continue;
      out += "<li>";
      AppendHtml(out, TimeText(act.time) + " — " + std::string(ActionTitle(act.code)));
      if (!act.detail.empty()) AppendHtml(out, ": " + act.detail);
      AppendHtml(out, " (" + Operator(act.operatorName) + ")");
      out += "</li>";
    }
    out += "</ul></td></tr>\n";
  }
  page.EndTable();
  CutNote(page, r.alarms.size());
}

}  // namespace pelvaron
