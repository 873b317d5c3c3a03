#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "reports/report_data.h"

namespace pelvaron::testing {

// 07.12.2026 08:00:00 in Moscow (+03:00 all year): a day shift's start.
inline constexpr std::int64_t kShiftStart = 1796619600;
inline constexpr std::int64_t kHour = 3600;

// Reports are in local time: every test here runs in Moscow's.
class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

 private:
  std::optional<std::string> savedTz_;
};

// An alarm `at` seconds into the shift, acknowledged and closed that many
// seconds after it (not set: not done).
ReportAlarm Alarm(std::uint64_t id, std::string address, std::string priority, std::int64_t at,
                  std::optional<std::int64_t> ackAfter = {}, std::optional<std::int64_t> closeAfter = {},
                  std::string outcome = {}, std::string ackOperator = {}, std::string closeOperator = {});

// The day shift 08:00-20:00 of a small station, every kind of fact in it: 10
// alarms of three priorities on three objects (one still open at the end,
// one acknowledged by nobody known, some over the thresholds, false ones),
// overdue and link and line intervals that cross the shift's ends, two
// operators signed in, openings and closings of 0012 over two days.
ReportData SampleShift();

// Every data-figure of an HTML page: its name and its text as a number
// (seconds of a duration, a count or a percentage; not set for "—").
std::map<std::string, std::optional<std::int64_t>> HtmlFigures(const std::string& html);
// "1 ч 02 мин 05 с" -> 3725, "12" -> 12, "83 %" -> 83, "—" -> none.
std::optional<std::int64_t> FigureValue(const std::string& text);

// RFC 4180 records of a CSV text, CR LF between them.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text);

}  // namespace pelvaron::testing
