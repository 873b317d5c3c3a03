#include "reports/report_json.h"

#include "core/json_writer.h"
#include "reports/report_time.h"

namespace pelvaron {
namespace {

std::int64_t Count(std::size_t n) {
  return static_cast<std::int64_t>(n);
}

void Figures(JsonWriter& json, const char* key, const TimeFigures& f) {
  json.Key(key).BeginObject();
  json.Key("count").Int(Count(f.count));
  const auto value = [&](const char* name, std::int64_t v) {
    json.Key(name);
    if (f.count == 0) {
      json.Null();
    } else {
      json.Int(v);
    }
  };
  value("median", f.median);
  value("p80", f.p80);
  value("p98_5", f.p98_5);
  value("max", f.max);
  json.EndObject();
}

void TimesSpent(JsonWriter& json, const char* key, const char* who, const std::vector<TimeSpent>& spent) {
  json.Key(key).BeginArray();
  for (const TimeSpent& s : spent) {
    json.BeginObject();
    json.Key(who).String(s.who);
    json.Key("seconds").Int(s.seconds);
    json.Key("times").Int(Count(s.times));
    json.EndObject();
  }
  json.EndArray();
}

// What both reports say: the range, the alarms and how they were handled.
void Summary(JsonWriter& json, const ShiftReport& r) {
  json.Key("station").String(r.station);
  json.Key("from").StringWith([&](std::string& out) { AppendIsoTime(out, r.from); });
  json.Key("to").StringWith([&](std::string& out) { AppendIsoTime(out, r.to); });
  json.Key("thresholds").BeginObject();
  json.Key("ack_seconds").Int(r.thresholds.ackSeconds);
  json.Key("close_seconds").Int(r.thresholds.closeSeconds);
  json.EndObject();
  json.Key("alarms").Int(Count(r.alarms.size()));
  json.Key("acknowledged").Int(Count(r.acknowledged));
  json.Key("closed").Int(Count(r.closed));
  json.Key("open").Int(Count(r.open));
  Figures(json, "ack_seconds", r.ack);
  Figures(json, "close_seconds", r.close);
  json.Key("ack_within_threshold").Int(Count(r.ackWithin));
  json.Key("close_within_threshold").Int(Count(r.closeWithin));
  json.Key("over_ack_threshold").Int(Count(r.overAck.size()));
  json.Key("over_close_threshold").Int(Count(r.overClose.size()));

  json.Key("by_priority").BeginArray();
  for (const PriorityCount& p : r.byPriority) {
    json.BeginObject();
    json.Key("priority").String(p.name);
    json.Key("title").String(p.title);
    json.Key("alarms").Int(Count(p.count));
    json.EndObject();
  }
  json.EndArray();
  json.Key("by_object").BeginArray();
  for (const ObjectAlarms& o : r.byObject) {
    json.BeginObject();
    json.Key("address").String(o.address);
    json.Key("alarms").Int(Count(o.alarms));
    json.Key("closed").Int(Count(o.closed));
    json.Key("false_alarms").Int(Count(o.falseAlarms));
    json.Key("false_alarm_percent");
    if (o.falsePercent) {
      json.Int(*o.falsePercent);
    } else {
      json.Null();
    }
    json.EndObject();
  }
  json.EndArray();
  json.Key("outcomes").BeginArray();
  for (const OutcomeCount& o : r.outcomes) {
    json.BeginObject();
    json.Key("outcome").String(o.code);
    json.Key("alarms").Int(Count(o.count));
    json.EndObject();
  }
  json.EndArray();
  json.Key("overdue_seconds").Int(r.overdue.seconds);
  TimesSpent(json, "overdue", "address", r.overdueByObject);
}

}  // namespace

std::string ShiftReportJson(const ShiftReport& report) {
  std::string out;
  JsonWriter json(out);
  json.BeginObject();
  json.Key("report").String("shift");
  Summary(json, report);
  json.Key("link_down_seconds").Int(report.linkDown.seconds);
  json.Key("line_down_seconds").Int(report.lineDown.seconds);
  TimesSpent(json, "operators", "operator", report.operators);
  json.EndObject();
  out += '\n';
  return out;
}

std::string ObjectReportJson(const ObjectReport& report) {
  std::string out;
  JsonWriter json(out);
  json.BeginObject();
  json.Key("report").String("object");
  json.Key("address").String(report.address);
  Summary(json, report.summary);
  std::size_t openings = 0, closings = 0;
  for (const OpeningDay& d : report.days) {
    openings += d.openings;
    closings += d.closings;
  }
  json.Key("openings").Int(Count(openings));
  json.Key("closings").Int(Count(closings));
  json.EndObject();
  out += '\n';
  return out;
}

}  // namespace pelvaron
