#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reports/report_data.h"
#include "reports/time_figures.h"

namespace pelvaron {

// One alarm of the range with what was done by the range's end.
struct AlarmTimes {
  const ReportAlarm* alarm = nullptr;
  std::optional<std::int64_t> acknowledged, closed;      // not set: not done by the end
  std::optional<std::int64_t> ackSeconds, closeSeconds;  // from the alarm on
  bool ackByClose = false;                               // closed without an acknowledgement of its own
};

// Who acknowledged it (empty: not acknowledged, or nobody known).
const std::string& AckOperatorOf(const AlarmTimes& t);

struct PriorityCount {
  std::string name, title, colour;
  std::size_t count = 0;
};

struct ObjectAlarms {
  std::string address;
  std::size_t alarms = 0, closed = 0, falseAlarms = 0;
  std::optional<int> falsePercent;  // of the closed ones, rounded; none closed: not set
};

struct OutcomeCount {
  std::string code;
  std::size_t count = 0;
};

// An alarm that took longer than the station's threshold, or was not done
// by the range's end when the threshold had passed.
struct OverThreshold {
  std::size_t alarm = 0;     // in ShiftReport::alarms
  std::int64_t seconds = 0;  // how long it took, or had waited at the end
  bool done = false;
  std::string_view operatorName;  // who did it (in the data); empty when not done
};

// Time spent in one state, in all and by whom (object or operator).
struct TimeSpent {
  std::string who;
  std::int64_t seconds = 0;
  std::size_t times = 0;
};

struct Downtime {
  std::int64_t seconds = 0;
  std::vector<Interval> intervals;  // clipped, in time order
};

struct ShiftReport {
  std::int64_t from = 0, to = 0;
  std::string station;
  ReportThresholds thresholds;
  std::vector<ReportPriority> priorities;  // as given, for the charts' colours

  std::vector<AlarmTimes> alarms;  // raised within the range, in time order
  std::size_t acknowledged = 0, closed = 0, open = 0;
  TimeFigures ack, close;
  std::size_t ackWithin = 0, closeWithin = 0;     // done within the threshold
  std::vector<PriorityCount> byPriority;          // the table's order, then by name
  std::vector<ObjectAlarms> byObject;             // the most alarms first
  std::vector<OutcomeCount> outcomes;             // the commonest first
  std::vector<OverThreshold> overAck, overClose;  // in time order

  std::vector<TimeSpent> overdueByObject;  // the longest first
  Downtime overdue, linkDown, lineDown;
  std::vector<Interval> signedIn;    // in time order
  std::vector<TimeSpent> operators;  // the longest first
};

// The shift report of data: alarms raised in [from, to], what was done by
// `to`, and the intervals clipped to the range. Points into data.alarms:
// data must outlive the report.
ShiftReport ComputeShiftReport(const ReportData& data);

// Intervals cut to [from, to]; those with nothing left are dropped. In time order.
std::vector<Interval> ClipIntervals(const std::vector<Interval>& intervals, std::int64_t from,
                                    std::int64_t to);

}  // namespace pelvaron
