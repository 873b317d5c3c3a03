#include "reports/html_page.h"
#include "reports/report_html.h"
#include "reports/report_sections.h"
#include "reports/report_time.h"

namespace pelvaron {
namespace {

void LinkSection(HtmlPage& page, const ShiftReport& r) {
  page.Heading("Связь с приёмником и телефонная линия");
  page.BeginTable({"", "Перерывов", "Всего"});
  page.BeginRow();
  page.Cell("Нет связи с приёмником");
  page.Cell(std::to_string(r.linkDown.intervals.size()), "n");
  page.FigureCell("link_down_seconds", DurationText(r.linkDown.seconds),
                  r.linkDown.seconds > 0 ? "n over" : "n");
  page.EndRow();
  page.BeginRow();
  page.Cell("Нет сигнала в телефонной линии");
  page.Cell(std::to_string(r.lineDown.intervals.size()), "n");
  page.FigureCell("line_down_seconds", DurationText(r.lineDown.seconds),
                  r.lineDown.seconds > 0 ? "n over" : "n");
  page.EndRow();
  page.EndTable();
  std::vector<Interval> both;
  for (Interval i : r.linkDown.intervals) {
    i.who = "связь с приёмником";
    both.push_back(std::move(i));
  }
  for (Interval i : r.lineDown.intervals) {
    i.who = "телефонная линия";
    both.push_back(std::move(i));
  }
  IntervalRows(page, ClipIntervals(both, r.from, r.to), "Что");
}

void OperatorsSection(HtmlPage& page, const ShiftReport& r) {
  page.Heading("Операторы на смене");
  if (r.signedIn.empty()) {
    page.Paragraph("Входов операторов за период нет: действия записаны без имени («оператор не указан»).",
                   "none");
    return;
  }
  IntervalRows(page, r.signedIn, "Оператор");
}

}  // namespace

std::string ShiftReportHtml(const ShiftReport& report) {
  HtmlPage page("Отчёт за смену", RangeText(report));
  CountsSection(page, report);
  TimesSection(page, report);
  PrioritySection(page, report);
  ObjectsSection(page, report);
  OutcomesSection(page, report);
  OverThresholdSections(page, report);
  OverdueSection(page, report);
  LinkSection(page, report);
  OperatorsSection(page, report);
  AlarmListSection(page, report, false);
  return page.Finish();
}

}  // namespace pelvaron
