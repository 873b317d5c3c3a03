#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "reports/report_data.h"
#include "reports/shift_report.h"

namespace pelvaron {

// An object's openings and closings of one local day.
struct OpeningDay {
  std::int64_t day = 0;                // the day's local midnight
  std::vector<OpeningClosing> events;  // in time order
  std::size_t openings = 0, closings = 0;
};

// The report for a client: one object's alarms with what was done and how
// they ended, its time overdue, and its openings and closings by day. The
// summary points into data: moved, never copied.
struct ObjectReport {
  ObjectReport() = default;
  ObjectReport(const ObjectReport&) = delete;
  ObjectReport& operator=(const ObjectReport&) = delete;
  ObjectReport(ObjectReport&&) = default;
  ObjectReport& operator=(ObjectReport&&) = default;

  std::string address;
  ReportData data;  // the object's part of what was given
  ShiftReport summary;
  std::vector<OpeningDay> days;  // in time order, only days with events
};

ObjectReport ComputeObjectReport(const ReportData& data, const std::string& address);

}  // namespace pelvaron
