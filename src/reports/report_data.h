#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "station/report_thresholds.h"

namespace pelvaron {

// What the shift and object reports are made of: plain values, filled from
// the stores by the query and read by the computing and the formats, which
// know nothing of where they came from. Times are calendar seconds.

// Something an operator did about an alarm between acknowledging and closing it.
struct ReportAction {
  std::int64_t time = 0;
  std::string code;    // "key-holder-called", "guard-sent" ...
  std::string detail;  // whom, the result, a note
  std::string operatorName;
};

// One alarm as the queue held it: its first event, however often it repeated.
struct ReportAlarm {
  std::uint64_t id = 0;  // the seq of its first event
  std::string station, address, priority /*name*/, priorityTitle, text;
  std::int64_t time = 0;
  // Not set: not (yet) done. A close without an acknowledgement counts as
  // acknowledged when closed; a time after the range's end as not yet done.
  std::optional<std::int64_t> acknowledged, closed;
  std::string ackOperator, closeOperator, outcome /*code*/, outcomeNote;
  std::vector<ReportAction> actions;  // in time order
};

// A stretch of time: an object overdue, the link or the line down, an
// operator signed in. Clipped to the report's range by whoever fills it.
struct Interval {
  std::int64_t from = 0, to = 0;
  std::string who;  // the object's address or the operator's name
};

// An object's disarm or arm (Contact ID 400-409): a new event is the opening
// (disarm), its restore the closing (arm).
struct OpeningClosing {
  std::int64_t time = 0;
  std::string address;
  int code = 0;          // 400..409
  bool opening = false;  // disarmed; false: armed
  std::string user;      // the panel's user number, empty when none
  std::string text;      // the event's own line: "Снятие пользователем"
};

// A priority of the station's table, highest first: the order and the colours
// the reports show priorities in. Priorities not among them follow by name.
struct ReportPriority {
  std::string name, title, colour /*"#RRGGBB" or empty*/;
};

struct ReportData {
  std::int64_t from = 0, to = 0;
  std::string station;
  std::vector<ReportAlarm> alarms;                              // raised within [from, to], in time order
  std::vector<Interval> overdue, linkDown, lineDown, signedIn;  // clipped to [from, to]
  std::vector<OpeningClosing> openings;                         // object report: Contact ID 400-409
  ReportThresholds thresholds;
  std::vector<ReportPriority> priorities;
};

}  // namespace pelvaron
