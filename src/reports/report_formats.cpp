#include "reports/report_formats.h"

#include "reports/object_report.h"
#include "reports/report_csv.h"
#include "reports/report_html.h"
#include "reports/report_json.h"
#include "reports/shift_report.h"

namespace pelvaron {

std::optional<ReportKind> ReportKindNamed(std::string_view name) {
  if (name == "shift") return ReportKind::Shift;
  if (name == "object") return ReportKind::Object;
  return std::nullopt;
}

std::optional<ReportFormat> ReportFormatNamed(std::string_view name) {
  if (name == "html") return ReportFormat::Html;
  if (name == "csv") return ReportFormat::Csv;
  if (name == "json") return ReportFormat::Json;
  return std::nullopt;
}

std::string RenderReport(const ReportData& data, ReportKind kind, ReportFormat format,
                         const std::string& address) {
  if (kind == ReportKind::Object) {
    const ObjectReport report = ComputeObjectReport(data, address);
    switch (format) {
      case ReportFormat::Html:
        return ObjectReportHtml(report);
      case ReportFormat::Csv:
        return ReportCsv(report.summary);
      case ReportFormat::Json:
        return ObjectReportJson(report);
    }
  }
  const ShiftReport report = ComputeShiftReport(data);
  switch (format) {
    case ReportFormat::Html:
      return ShiftReportHtml(report);
    case ReportFormat::Csv:
      return ReportCsv(report);
    case ReportFormat::Json:
      return ShiftReportJson(report);
  }
  return {};
}

}  // namespace pelvaron
