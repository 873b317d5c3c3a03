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

const std::tm& LocalTimes::At(std::int64_t time) {
  constexpr std::int64_t kQuarter = 900;
  const std::int64_t block = time / kQuarter - (time % kQuarter < 0 ? 1 : 0);
  if (block != block_) {
    block_ = block;
    base_ = Local(block * kQuarter);
    // Zones change their offset only at whole quarter hours, and with an
    // offset of whole quarter hours a quarter's local time starts at a whole
    // quarter too: the seconds into it are added without a carry.
    whole_ = base_.tm_gmtoff % kQuarter == 0;
  }
  if (!whole_) {
    tm_ = Local(time);
    return tm_;
  }
  const std::int64_t into = time - block * kQuarter;
  tm_ = base_;
  tm_.tm_min += static_cast<int>(into / 60);
  tm_.tm_sec += static_cast<int>(into % 60);
  return tm_;
}

void AppendIsoTime(std::string& out, std::int64_t time) {
  AppendIsoTime(out, Local(time));
}

void AppendIsoTime(std::string& out, const std::tm& tm) {
  // Digits by hand: a month's CSV writes a million of these.
  char text[] = "0000-00-00T00:00:00+00:00";
  const auto put = [&text](int at, long value, int digits) {
    for (int i = digits - 1; i >= 0; --i, value /= 10) text[at + i] = static_cast<char>('0' + value % 10);
  };
  const long offset = tm.tm_gmtoff / 60;
  const long abs = offset < 0 ? -offset : offset;
  put(0, tm.tm_year + 1900L, 4);
  put(5, tm.tm_mon + 1, 2);
  put(8, tm.tm_mday, 2);
  put(11, tm.tm_hour, 2);
  put(14, tm.tm_min, 2);
  put(17, tm.tm_sec, 2);
  text[19] = offset < 0 ? '-' : '+';
  put(20, abs / 60 % 100, 2);
  put(23, abs % 60, 2);
  out.append(text, sizeof text - 1);
}

std::string IsoTime(std::int64_t time) {
  std::string out;
  AppendIsoTime(out, time);
  return out;
}

std::string TimeText(std::int64_t time) {
  return Format(time, "%d.%m.%Y %H:%M:%S");
}

std::string DateText(std::int64_t time) {
  return Format(time, "%d.%m.%Y");
}

std::string ClockText(std::int64_t time) {
  return Format(time, "%H:%M");
}

std::string TimeOfDayText(std::int64_t time) {
  return Format(time, "%H:%M:%S");
}

std::string DurationText(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  const std::int64_t days = seconds / 86400, hours = seconds / 3600 % 24, minutes = seconds / 60 % 60,
                     secs = seconds % 60;
  char text[64];
  if (days > 0) {
    std::snprintf(text, sizeof text, "%lld сут %lld ч %02lld мин %02lld с", static_cast<long long>(days),
                  static_cast<long long>(hours), static_cast<long long>(minutes),
                  static_cast<long long>(secs));
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

bool SameLocalDay(std::int64_t a, std::int64_t b) {
  const std::tm x = Local(a), y = Local(b);
  return x.tm_mday == y.tm_mday && x.tm_mon == y.tm_mon && x.tm_year == y.tm_year;
}

}  // namespace pelvaron
