#include "reports/query/report_range.h"

#include <ctime>

namespace pelvaron {

std::int64_t LocalMonthStart(std::int64_t time) {
  const std::time_t t = static_cast<std::time_t>(time);
  std::tm tm{};
  localtime_r(&t, &tm);
  tm.tm_mday = 1;
  tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
  tm.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&tm));
}

ReportRange DefaultReportRange(ReportKind kind, std::int64_t now) {
  if (kind == ReportKind::Shift) return {now - 12 * 3600, now};
  const std::int64_t thisMonth = LocalMonthStart(now);
  return {LocalMonthStart(thisMonth - 1), thisMonth - 1};
}

}  // namespace pelvaron
