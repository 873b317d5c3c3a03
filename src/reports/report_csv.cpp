#include "reports/report_csv.h"

#include "events/alarm_handling.h"
#include "reports/report_escape.h"
#include "reports/report_time.h"

namespace pelvaron {

std::string HandledBy(const AlarmTimes& alarm) {
  if (!alarm.acknowledged) return {};
  const std::string& name = alarm.closed ? alarm.alarm->closeOperator : AckOperatorOf(alarm);
  return name.empty() ? std::string(kNoOperator) : name;
}

std::string OutcomeText(const AlarmTimes& alarm) {
  if (!alarm.closed) return {};
  std::string text(OutcomeTitle(alarm.alarm->outcome));
  if (!alarm.alarm->outcomeNote.empty()) text += ": " + alarm.alarm->outcomeNote;
  return text;
}

std::string ReportCsv(const ShiftReport& report) {
  std::string out =
      "number,station,address,priority,time,acknowledged_at,closed_at,operator,outcome,"
      "seconds_to_acknowledge,seconds_to_close\r\n";
  out.reserve(out.size() + report.alarms.size() * 256);
  LocalTimes local;
  for (const AlarmTimes& t : report.alarms) {
    const ReportAlarm& a = *t.alarm;
    out += std::to_string(a.id);
    out += ',';
    AppendCsvField(out, a.station);
    out += ',';
    AppendCsvField(out, a.address);
    out += ',';
    AppendCsvField(out, a.priorityTitle.empty() ? a.priority : a.priorityTitle);
    out += ',';
    AppendIsoTime(out, local.At(a.time));
    out += ',';
    if (t.acknowledged) AppendIsoTime(out, local.At(*t.acknowledged));
    out += ',';
    if (t.closed) AppendIsoTime(out, local.At(*t.closed));
    out += ',';
    AppendCsvField(out, HandledBy(t));
    out += ',';
    AppendCsvField(out, OutcomeText(t));
    out += ',';
    if (t.ackSeconds) out += std::to_string(*t.ackSeconds);
    out += ',';
    if (t.closeSeconds) out += std::to_string(*t.closeSeconds);
    out += "\r\n";
  }
  return out;
}

}  // namespace pelvaron
