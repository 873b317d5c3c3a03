#include "reports/shift_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "report_samples.h"
#include "events/alarm_handling.h"
#include "reports/object_report.h"
#include "reports/report_time.h"

namespace pelvaron {
namespace {

using testing::Alarm;
using testing::kHour;
using testing::kShiftStart;

std::vector<std::int64_t> OneTo(std::int64_t n) {
  std::vector<std::int64_t> v(static_cast<std::size_t>(n));
  std::iota(v.begin(), v.end(), 1);
  std::shuffle(v.begin(), v.end(), std::mt19937(7));  // the order given must not matter
  return v;
}

// Nearest rank: always one of the times, rank ceil(p * n), never a value
// between two nor the rank below.
TEST(TimeFigures, NearestRankPercentilesOfKnownTimes) {
  struct Case {
    const char* name;
    std::vector<std::int64_t> times;
    std::size_t count;
    std::int64_t median, p80, p98_5, max;
  };
  const Case cases[] = {
      {"none", {}, 0, 0, 0, 0, 0},
      {"one", {42}, 1, 42, 42, 42, 42},
      {"ties", {9, 5, 5, 5}, 4, 5, 9, 9, 9},
      {"all equal", {7, 7, 7}, 3, 7, 7, 7, 7},
      {"ten", OneTo(10), 10, 5, 8, 10, 10},
      {"sixty-seven", OneTo(67), 67, 34, 54, 66, 67},
      {"two hundred", OneTo(200), 200, 100, 160, 197, 200},
      {"a thousand", OneTo(1000), 1000, 500, 800, 985, 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TimeFigures f = FiguresOf(c.times);
    EXPECT_EQ(f.count, c.count);
    if (c.count == 0) continue;
    EXPECT_EQ(f.median, c.median);
    EXPECT_EQ(f.p80, c.p80);
    EXPECT_EQ(f.p98_5, c.p98_5);
    EXPECT_EQ(f.max, c.max);
  }
}

class ShiftReportTest : public testing::ReportTest {};

// The edges of a range: what counts is what was done by its end.
TEST_F(ShiftReportTest, OnlyWhatWasDoneWithinTheRangeIsMeasured) {
  const std::int64_t end = kHour;
  struct Case {
    const char* name;
    std::vector<ReportAlarm> alarms;
    std::size_t acknowledged, closed, open;
    std::int64_t ackMax, closeMax;  // -1: nothing measured
    std::vector<std::uint64_t> overAck, overClose;
  };
  const Case cases[] = {
      {"no alarms", {}, 0, 0, 0, -1, -1, {}, {}},
      {"one alarm", {Alarm(1, "0012", "fire", 60, 12, 50)}, 1, 1, 0, 12, 50, {}, {}},
      {"open at the end: listed once its wait passes the threshold",
       {Alarm(1, "0012", "fire", end - 100, 10), Alarm(2, "0012", "fire", end - 50, 10)},
       2,
       0,
       2,
       10,
       -1,
       {},
       {1}},
      {"acknowledged and closed after the end: not yet",
       {Alarm(1, "0012", "fire", end - 40, 50, 60)},
       0,
       0,
       1,
       -1,
       -1,
       {1},
       {}},
      {"closed without an acknowledgement: acknowledged then",
       {Alarm(1, "0012", "fire", 0, {}, 70)},
       1,
       1,
       0,
       70,
       70,
       {1},
       {1}},
      {"raised before the range: not this range's",
       {Alarm(1, "0012", "fire", -10, 5, 5)},
       0,
       0,
       0,
       -1,
       -1,
       {},
       {}},
      {"a clock set back makes no negative wait",
       {Alarm(1, "0012", "fire", 100, -30, -20)},
       1,
       1,
       0,
       0,
       0,
       {},
       {}},
      {"exactly at the thresholds is within them",
       {Alarm(1, "0012", "fire", 0, 30, 60)},
       1,
       1,
       0,
       30,
       60,
       {},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReportData data;
    data.from = kShiftStart;
    data.to = kShiftStart + end;
    data.alarms = c.alarms;
    const ShiftReport r = ComputeShiftReport(data);
    EXPECT_EQ(r.acknowledged, c.acknowledged);
    EXPECT_EQ(r.closed, c.closed);
    EXPECT_EQ(r.open, c.open);
    EXPECT_EQ(r.ack.count ? r.ack.max : -1, c.ackMax);
    EXPECT_EQ(r.close.count ? r.close.max : -1, c.closeMax);
    const auto ids = [&](const std::vector<OverThreshold>& over) {
      std::vector<std::uint64_t> out;
      for (const OverThreshold& o : over) out.push_back(r.alarms[o.alarm].alarm->id);
      return out;
    };
    EXPECT_EQ(ids(r.overAck), c.overAck);
    EXPECT_EQ(ids(r.overClose), c.overClose);
  }
}

// The sample shift worked out by hand (see report_samples.h); its intervals
// cross the range's start and end, and one lies after it.
TEST_F(ShiftReportTest, ASampleShiftAddsUp) {
  const ReportData data = testing::SampleShift();
  const ShiftReport r = ComputeShiftReport(data);
  ASSERT_EQ(r.alarms.size(), 11u);
  EXPECT_EQ(r.alarms.front().alarm->id, 101u);
  // Acknowledged in 5 8 10 12 20 25 30 35 40; closed in 30 45 50 55 58 60 120 300.
  EXPECT_EQ((std::vector<std::int64_t>{r.ack.median, r.ack.p80, r.ack.p98_5, r.ack.max}),
            (std::vector<std::int64_t>{20, 35, 40, 40}));
  EXPECT_EQ((std::vector<std::int64_t>{r.close.median, r.close.p80, r.close.p98_5, r.close.max}),
            (std::vector<std::int64_t>{55, 120, 300, 300}));
  EXPECT_EQ(r.ackWithin, 7u);
  EXPECT_EQ(r.closeWithin, 6u);
  EXPECT_EQ(r.open, 3u);

  std::vector<std::string> order;
  for (const PriorityCount& p : r.byPriority) order.push_back(p.name + "=" + std::to_string(p.count));
  EXPECT_EQ(order, (std::vector<std::string>{"fire=3", "panic=1", "burglary=6", "trouble=1"}));
  std::vector<std::string> objects;
  for (const ObjectAlarms& o : r.byObject) {
    objects.push_back(o.address + ":" + std::to_string(o.falseAlarms) + "/" + std::to_string(o.closed) + "=" +
                      std::to_string(o.falsePercent.value_or(-1)));
  }
  EXPECT_EQ(objects, (std::vector<std::string>{"0012:1/3=33", "0034:3/3=100", "0056:0/2=0"}));

  // Late ones with who did them; nobody known is said so, nobody yet is empty.
  ASSERT_EQ(r.overAck.size(), 3u);
  EXPECT_EQ(r.overAck[0].operatorName, "Иванова");
  EXPECT_EQ(r.overAck[1].operatorName, "");
  EXPECT_FALSE(r.overAck[2].done);
  EXPECT_EQ(r.overAck[2].seconds, 12 * kHour - 40000);

  EXPECT_EQ(r.overdue.seconds, 1200 + 600 + 200);
  ASSERT_EQ(r.overdueByObject.size(), 2u);
  EXPECT_EQ(r.overdueByObject[0].who, "0056");
  EXPECT_EQ(r.overdueByObject[1].times, 2u);
  EXPECT_EQ(r.linkDown.seconds, 120 + 100);
  EXPECT_EQ(r.lineDown.seconds, 60);
  ASSERT_EQ(r.operators.size(), 2u);
  EXPECT_EQ(r.operators[0].who, "Петров");
  EXPECT_EQ(r.operators[0].seconds, 8 * kHour);
  EXPECT_EQ(r.operators[1].seconds, 4 * kHour);
}

TEST_F(ShiftReportTest, AnObjectsReportHasOnlyItsOwnAlarmsAndItsOpeningsByLocalDay) {
  ReportData data = testing::SampleShift();
  data.to = kShiftStart + 48 * kHour;
  const ObjectReport r = ComputeObjectReport(data, "0012");
  ASSERT_EQ(r.summary.alarms.size(), 4u);
  for (const AlarmTimes& t : r.summary.alarms) EXPECT_EQ(t.alarm->address, "0012");
  // 07.12: opened 08:02, closed 19:10; 08.12: opened 08:01, closed 19:06.
  // The closing at 07:00 is before the range; 0034's is another object's.
  ASSERT_EQ(r.days.size(), 2u);
  EXPECT_EQ(r.days[0].day, kShiftStart - 8 * kHour);
  EXPECT_EQ(r.days[1].day, kShiftStart + 16 * kHour);
  for (const OpeningDay& d : r.days) {
    EXPECT_EQ(d.openings, 1u);
    EXPECT_EQ(d.closings, 1u);
  }
}

// The reports convert a quarter hour once: every second of it must read as
// the C library reads it, across changes to and from summer time, in zones
// of half and three-quarter hours, and before zones had whole offsets.
TEST_F(ShiftReportTest, LocalTimesReadAsTheCLibrary) {
  struct Case {
    const char* zone;
    std::int64_t around;
  };
  const Case cases[] = {
      {"Europe/Berlin", 1792890000},        // 25.10.2026 03:00 summer time back to 02:00
      {"Australia/Lord_Howe", 1775314800},  // 05.04.2026: half an hour back
      {"Asia/Kathmandu", kShiftStart},      // +05:45
      {"America/St_Johns", 1792890000},     // -02:30 / -03:30
      {"Europe/Moscow", -2208988800},       // 1900: +02:30:17
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.zone);
    setenv("TZ", c.zone, 1);
    tzset();
    LocalTimes local;
    for (std::int64_t t = c.around - 2 * kHour; t < c.around + 2 * kHour; t += 7) {
      const std::time_t tt = static_cast<std::time_t>(t);
      std::tm expected{};
      ASSERT_NE(localtime_r(&tt, &expected), nullptr);
      const std::tm& got = local.At(t);
      ASSERT_EQ((std::vector<int>{got.tm_year, got.tm_mon, got.tm_mday, got.tm_hour, got.tm_min, got.tm_sec}),
                (std::vector<int>{expected.tm_year, expected.tm_mon, expected.tm_mday, expected.tm_hour,
                                  expected.tm_min, expected.tm_sec}))
          << t;
      ASSERT_EQ(got.tm_gmtoff, expected.tm_gmtoff) << t;
    }
  }
}

}  // namespace
}  // namespace pelvaron
