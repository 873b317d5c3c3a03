#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "reports/report_data.h"

namespace pelvaron {

// One door to every report in every format, for pelvaron-report and the
// window: the data in, the text of the file out.

enum class ReportKind : std::uint8_t { Shift, Object };
enum class ReportFormat : std::uint8_t { Html, Csv, Json };

// "shift", "object"; nothing for any other name.
std::optional<ReportKind> ReportKindNamed(std::string_view name);
// "html", "csv", "json"; nothing for any other name.
std::optional<ReportFormat> ReportFormatNamed(std::string_view name);

// The report of data: the shift report of the whole, or the object report of
// the object at address.
std::string RenderReport(const ReportData& data, ReportKind kind, ReportFormat format,
                         const std::string& address = {});

}  // namespace pelvaron
