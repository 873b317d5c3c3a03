#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace pelvaron {

// Times of the reports in the station's local time (the TZ of the process).

// The local time of many times in a row, as a report writes them: each
// quarter hour is converted once, not each time in it (a month's alarms
// would ask the C library a million times). One for each report written:
// the zone is the one in force when it converts.
class LocalTimes {
 public:
  const std::tm& At(std::int64_t time);

 private:
  std::int64_t block_ = INT64_MIN;
  bool whole_ = false;  // the zone's offset is whole quarter hours
  std::tm base_{}, tm_{};
};

// "2026-12-07T10:22:20+03:00": ISO 8601 with the offset, for CSV and JSON.
void AppendIsoTime(std::string& out, std::int64_t time);
void AppendIsoTime(std::string& out, const std::tm& local);
std::string IsoTime(std::int64_t time);
// "07.12.2026 10:22:20", as the windows show it.
std::string TimeText(std::int64_t time);
// "07.12.2026".
std::string DateText(std::int64_t time);
// "10:22".
std::string ClockText(std::int64_t time);
// "10:22:20".
std::string TimeOfDayText(std::int64_t time);
// "45 с", "95 с", "3 мин 05 с", "2 ч 00 мин 10 с", "3 сут 4 ч 00 мин 00 с":
// seconds up to two minutes, as thresholds are spoken of.
std::string DurationText(std::int64_t seconds);

// The start of the local day and of the local hour that time falls in.
std::int64_t LocalDayStart(std::int64_t time);
std::int64_t LocalHourStart(std::int64_t time);
bool SameLocalDay(std::int64_t a, std::int64_t b);

}  // namespace pelvaron
