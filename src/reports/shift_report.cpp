#include "reports/shift_report.h"

#include <algorithm>
#include <map>
#include <string_view>
#include <unordered_map>

#include "events/alarm_handling.h"

namespace pelvaron {
namespace {

// What had happened by the range's end: a time after it is not yet, and a
// close without an acknowledgement acknowledged it.
AlarmTimes TimesOf(const ReportAlarm& alarm, std::int64_t to) {
  AlarmTimes t;
  t.alarm = &alarm;
  if (alarm.closed && *alarm.closed <= to) t.closed = std::max(*alarm.closed, alarm.time);
  if (alarm.acknowledged && *alarm.acknowledged <= to) {
    t.acknowledged = std::max(*alarm.acknowledged, alarm.time);
  } else {
    t.acknowledged = t.closed;
    t.ackByClose = t.closed.has_value();
  }
  // A clock set back between the alarm and its handling makes no negative wait.
  if (t.acknowledged) t.ackSeconds = *t.acknowledged - alarm.time;
  if (t.closed) t.closeSeconds = *t.closed - alarm.time;
  return t;
}

std::vector<PriorityCount> CountByPriority(const std::vector<AlarmTimes>& alarms,
                                           const std::vector<ReportPriority>& table) {
  std::unordered_map<std::string_view, PriorityCount> seen;
  for (const AlarmTimes& t : alarms) {
    PriorityCount& c = seen[t.alarm->priority];
    if (c.count++ > 0) continue;
    c.name = t.alarm->priority;
    c.title = t.alarm->priorityTitle;
  }
  std::map<std::string, PriorityCount> counts;  // those not in the table by name
  for (auto& [name, c] : seen) counts.emplace(c.name, std::move(c));
  std::vector<PriorityCount> out;
  for (const ReportPriority& p : table) {
    auto it = counts.find(p.name);
    if (it == counts.end()) continue;
    it->second.colour = p.colour;
    if (!p.title.empty()) it->second.title = p.title;
    out.push_back(std::move(it->second));
    counts.erase(it);
  }
  for (auto& [name, c] : counts) out.push_back(std::move(c));
  for (PriorityCount& c : out) {
    if (c.title.empty()) c.title = c.name;
  }
  return out;
}

std::vector<ObjectAlarms> CountByObject(const std::vector<AlarmTimes>& alarms) {
  std::unordered_map<std::string_view, ObjectAlarms> seen;
  for (const AlarmTimes& t : alarms) {
    ObjectAlarms& o = seen[t.alarm->address];
    if (o.alarms++ == 0) o.address = t.alarm->address;
    if (!t.closed) continue;
    ++o.closed;
    if (IsFalseAlarm(t.alarm->outcome)) ++o.falseAlarms;
  }
  std::vector<ObjectAlarms> out;
  for (auto& [address, o] : seen) {
    if (o.closed > 0) o.falsePercent = static_cast<int>((o.falseAlarms * 200 + o.closed) / (o.closed * 2));
    out.push_back(std::move(o));
  }
  std::sort(out.begin(), out.end(), [](const ObjectAlarms& a, const ObjectAlarms& b) {
    return a.alarms != b.alarms ? a.alarms > b.alarms : a.address < b.address;
  });
  return out;
}

std::vector<OutcomeCount> CountOutcomes(const std::vector<AlarmTimes>& alarms) {
  std::map<std::string_view, std::size_t> counts;  // a handful of outcomes
  for (const AlarmTimes& t : alarms) {
    if (t.closed) ++counts[t.alarm->outcome];
  }
  std::vector<OutcomeCount> out;
  for (const auto& [code, count] : counts) out.push_back({std::string(code), count});
  std::stable_sort(out.begin(), out.end(),
                   [](const OutcomeCount& a, const OutcomeCount& b) { return a.count > b.count; });
  return out;
}

Downtime DowntimeOf(const std::vector<Interval>& intervals, std::int64_t from, std::int64_t to) {
  Downtime d;
  d.intervals = ClipIntervals(intervals, from, to);
  for (const Interval& i : d.intervals) d.seconds += i.to - i.from;
  return d;
}

std::vector<TimeSpent> SpentByWho(const std::vector<Interval>& intervals) {
  std::map<std::string, TimeSpent> by;
  for (const Interval& i : intervals) {
    TimeSpent& s = by[i.who];
    s.who = i.who;
    s.seconds += i.to - i.from;
    ++s.times;
  }
  std::vector<TimeSpent> out;
  for (auto& [who, s] : by) out.push_back(std::move(s));
  std::stable_sort(out.begin(), out.end(),
                   [](const TimeSpent& a, const TimeSpent& b) { return a.seconds > b.seconds; });
  return out;
}

}  // namespace

const std::string& AckOperatorOf(const AlarmTimes& t) {
  static const std::string none;
  if (!t.acknowledged) return none;
  return t.ackByClose ? t.alarm->closeOperator : t.alarm->ackOperator;
}

std::vector<Interval> ClipIntervals(const std::vector<Interval>& intervals, std::int64_t from,
                                    std::int64_t to) {
  std::vector<Interval> out;
  for (const Interval& i : intervals) {
    Interval c = i;
    c.from = std::max(c.from, from);
    c.to = std::min(c.to, to);
    if (c.to > c.from) out.push_back(std::move(c));
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const Interval& a, const Interval& b) { return a.from < b.from; });
  return out;
}

ShiftReport ComputeShiftReport(const ReportData& data) {
  ShiftReport r;
  r.from = data.from;
  r.to = data.to;
  r.station = data.station;
  r.thresholds = data.thresholds;
  r.priorities = data.priorities;

  r.alarms.reserve(data.alarms.size());
  for (const ReportAlarm& alarm : data.alarms) {
    if (alarm.time < data.from || alarm.time > data.to) continue;
    r.alarms.push_back(TimesOf(alarm, data.to));
  }
  // The data comes in time order as a rule; sorting it again costs a copy.
  const auto earlier = [](const AlarmTimes& a, const AlarmTimes& b) { return a.alarm->time < b.alarm->time; };
  if (!std::is_sorted(r.alarms.begin(), r.alarms.end(), earlier)) {
    std::stable_sort(r.alarms.begin(), r.alarms.end(), earlier);
  }

  std::vector<std::int64_t> ackSeconds, closeSeconds;
  for (std::size_t i = 0; i < r.alarms.size(); ++i) {
    const AlarmTimes& t = r.alarms[i];
    const std::int64_t waited = data.to - t.alarm->time;
    if (t.ackSeconds) {
      ackSeconds.push_back(*t.ackSeconds);
      if (*t.ackSeconds <= r.thresholds.ackSeconds) ++r.ackWithin;
    }
    if (t.ackSeconds ? *t.ackSeconds > r.thresholds.ackSeconds : waited > r.thresholds.ackSeconds) {
      r.overAck.push_back({i, t.ackSeconds.value_or(waited), t.ackSeconds.has_value(), AckOperatorOf(t)});
    }
    if (t.closeSeconds) {
      closeSeconds.push_back(*t.closeSeconds);
      if (*t.closeSeconds <= r.thresholds.closeSeconds) ++r.closeWithin;
    }
    if (t.closeSeconds ? *t.closeSeconds > r.thresholds.closeSeconds : waited > r.thresholds.closeSeconds) {
      r.overClose.push_back({i, t.closeSeconds.value_or(waited), t.closeSeconds.has_value(),
                             t.closeSeconds ? std::string_view(t.alarm->closeOperator) : std::string_view()});
    }
  }
  r.acknowledged = ackSeconds.size();
  r.closed = closeSeconds.size();
  r.open = r.alarms.size() - r.closed;
  r.ack = FiguresOf(std::move(ackSeconds));
  r.close = FiguresOf(std::move(closeSeconds));

  r.byPriority = CountByPriority(r.alarms, data.priorities);
  r.byObject = CountByObject(r.alarms);
  r.outcomes = CountOutcomes(r.alarms);

  r.overdue = DowntimeOf(data.overdue, data.from, data.to);
  r.overdueByObject = SpentByWho(r.overdue.intervals);
  r.linkDown = DowntimeOf(data.linkDown, data.from, data.to);
  r.lineDown = DowntimeOf(data.lineDown, data.from, data.to);
  r.signedIn = ClipIntervals(data.signedIn, data.from, data.to);
  r.operators = SpentByWho(r.signedIn);
  return r;
}

}  // namespace pelvaron
