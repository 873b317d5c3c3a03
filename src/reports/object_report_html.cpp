#include "reports/html_page.h"
#include "reports/report_escape.h"
#include "reports/report_html.h"
#include "reports/report_sections.h"
#include "reports/report_time.h"

namespace pelvaron {
namespace {

// What one opening or closing says in a day's list: "08:02 Снятие
// пользователем (пользователь 3)".
std::string EventText(const OpeningClosing& o) {
  std::string text = ClockText(o.time) + " ";
  text += o.text.empty() ? (o.opening ? "Снятие с охраны" : "Взятие под охрану") : o.text;
  if (!o.user.empty()) text += " (пользователь " + o.user + ")";
  return text;
}

void OpeningsSection(HtmlPage& page, const ObjectReport& r) {
  page.Heading("Снятия и взятия под охрану по дням");
  if (r.days.empty()) {
    page.Paragraph("Снятий и взятий за период нет.", "none");
    return;
  }
  page.BeginTable({"День", "Снятий", "Взятий", "События"});
  for (const OpeningDay& d : r.days) {
    page.BeginRow();
    page.Cell(DateText(d.day), "t");
    page.Cell(std::to_string(d.openings), "n");
    page.Cell(std::to_string(d.closings), "n");
    std::string& out = page.out();
    out += "<td><ul>";
    for (const OpeningClosing& o : d.events) {
      out += o.opening ? "<li>" : "<li class=\"closing\">";
      AppendHtml(out, EventText(o));
      out += "</li>";
    }
    out += "</ul></td>";
    page.EndRow();
  }
  page.EndTable();
}

}  // namespace

std::string ObjectReportHtml(const ObjectReport& report) {
  const ShiftReport& s = report.summary;
  HtmlPage page("Отчёт по объекту " + report.address, RangeText(s));
  CountsSection(page, s);
  TimesSection(page, s);
  PrioritySection(page, s);
  OutcomesSection(page, s);
  ObjectsSection(page, s);
  OverThresholdSections(page, s);
  AlarmListSection(page, s, true);
  OverdueSection(page, s);
  OpeningsSection(page, report);
  return page.Finish();
}

}  // namespace pelvaron
