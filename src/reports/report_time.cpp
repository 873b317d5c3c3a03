#include "reports/report_time.h"

#include <cstdio>
#include <ctime>

namespace pelvaron {
namespace {

std::tm Local(std::int64_t time) {
  const std::time_t t = static_cast<std::time_t>(time);
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

std::string Format(std::int64_t time, const char* format) {
  const std::tm tm = Local(time);
  char text[64];
  const std::size_t n = std::strftime(text, sizeof text, format, &tm);
  return std::string(text, n);
}

}  // namespace

void AppendIsoTime(std::string& out, std::int64_t time) {
  const std::tm tm = Local(time);
  const long offset = tm.tm_gmtoff / 60;
  const long hours = (offset < 0 ? -offset : offset) / 60, minutes = (offset < 0 ? -offset : offset) % 60;
  char text[64];
  const int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", tm.tm_year + 1900,
                              tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, offset < 0 ? '-' : '+',
                              hours, minutes);
  out.append(text, static_cast<std::size_t>(n));
}

std::string IsoTime(std::int64_t time) {
  std::string out;
  AppendIsoTime(out, time);
  return out;
}

std::string TimeText(std::int64_t time) { return Format(time, "%d.%m.%Y %H:%M:%S"); }

std::string DateText(std::int64_t time) { return Format(time, "%d.%m.%Y"); }

std::string ClockText(std::int64_t time) { return Format(time, "%H:%M"); }

std::string TimeOfDayText(std::int64_t time) { return Format(time, "%H:%M:%S"); }

std::string DurationText(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  const std::int64_t days = seconds / 86400, hours = seconds / 3600 % 24, minutes = seconds / 60 % 60,
                     secs = seconds % 60;
  char text[64];
  if (days > 0) {
    std::snprintf(text, sizeof text, "%lld сут %lld ч %02lld мин %02lld с", static_cast<long long>(days),
                  static_cast<long long>(hours), static_cast<long long>(minutes), static_cast<long long>(secs));
  } else if (hours > 0) {
    std::snprintf(text, sizeof text, "%lld ч %02lld мин %02lld с", static_cast<long long>(hours),
                  static_cast<long long>(minutes), static_cast<long long>(secs));
  } else if (seconds >= 120) {
    std::snprintf(text, sizeof text, "%lld мин %02lld с", static_cast<long long>(minutes),
                  static_cast<long long>(secs));
  } else {
    std::snprintf(text, sizeof text, "%lld с", static_cast<long long>(seconds));
  }
  return text;
}

std::int64_t LocalDayStart(std::int64_t time) {
  std::tm tm = Local(time);
  tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
  tm.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&tm));
}

std::int64_t LocalHourStart(std::int64_t time) {
  const std::tm tm = Local(time);
  return time - tm.tm_min * 60 - tm.tm_sec;
}

int LocalHour(std::int64_t time) { return Local(time).tm_hour; }

bool SameLocalDay(std::int64_t a, std::int64_t b) {
  const std::tm x = Local(a), y = Local(b);
  return x.tm_mday == y.tm_mday && x.tm_mon == y.tm_mon && x.tm_year == y.tm_year;
}

}  // namespace pelvaron
