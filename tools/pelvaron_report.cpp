// pelvaron-report: the shift and object reports of a station's folder, made
// from its event store (read only: a running console is never held up) and
// the thresholds of its station store, as HTML, CSV or JSON.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <iostream>
#include <optional>
#include <span>
#include <string>

#include "alarms/priority_table.h"
#include "platform/real_file_system.h"
#include "reports/query/report_query.h"
#include "reports/query/report_range.h"
#include "reports/report_formats.h"
#include "store/event_store.h"
#include "store/history_format.h"
#include "tool_arguments.h"

namespace {

using namespace pelvaron;

constexpr char kUsage[] =
    "Usage: pelvaron-report shift|object [options]\n"
    "\n"
    "Makes a report from the event store of a console's folder: the shift report\n"
    "(alarms by priority and by object, times to acknowledge and to close against\n"
    "the station's thresholds, outcomes, objects overdue, the link's and the\n"
    "telephone line's downtime, who was at work) or the report for one object\n"
    "(its alarms with what was done and how they ended, its openings and closings\n"
    "by day).\n"
    "\n"
    "  --from TIME       the report from TIME on: 2026-12-07, 2026-12-07 10:30,\n"
    "                    2026-12-07T10:30:15 or 07.12.2026 (local time)\n"
    "  --to TIME         up to TIME (a date alone: to its end)\n"
    "                    Without them: shift, the last 12 hours up to now;\n"
    "                    object, the previous calendar month. --from alone: up to\n"
    "                    now; --to alone: the 12 hours (shift) or the calendar\n"
    "                    month (object) up to it.\n"
    "  --address ADDR    the object (12 also finds 0012); object needs it, shift\n"
    "                    then reports on that object's alarms only\n"
    "  --format FORMAT   html (default: a page with charts, printable), csv (one\n"
    "                    row per alarm) or json (the summary's figures)\n"
    "  --store PATH      the event store (default: events.sqlite in the current\n"
    "                    folder); the thresholds come from station.sqlite beside it\n"
    "  --output FILE     write the report to FILE (replaced whole, never left\n"
    "                    half-written) instead of standard output\n"
    "  --help            this text\n"
    "  --version         the program's version\n"
    "\n"
    "Exit status: 0 done (also when the range holds no alarm), 1 the store could\n"
    "not be read or the report not written, 2 a wrong command line.\n";

struct Arguments : ToolCommon {
  std::optional<ReportKind> kind;
  std::optional<std::int64_t> from, to;
  std::string address;
  ReportFormat format = ReportFormat::Html;
  std::string store = kEventStoreFileName;
  std::string output;
};

Arguments Parse(int argc, char** argv) {
  Arguments a;
  ToolArguments args(argc, argv, a);
  while (const std::optional<std::string> next = args.Next()) {
    const std::string& arg = *next;
    std::string v;
    if (arg == "--from" || arg == "--to") {
      if (!args.Value(v)) break;
      const std::optional<std::int64_t> time = ParseTimeArgument(v, arg == "--to");
      if (!time) a.error = arg + ": not a date or time: " + v + " (2026-12-07, 2026-12-07 10:30 or 07.12.2026)";
      (arg == "--from" ? a.from : a.to) = time;
    } else if (arg == "--address") {
      if (args.Value(a.address) && a.address.empty()) a.error = "--address needs an object's address";
    } else if (arg == "--format") {
      if (!args.Value(v)) break;
      const std::optional<ReportFormat> format = ReportFormatNamed(v);
      if (!format) a.error = "--format takes html, csv or json, not " + v;
      if (format) a.format = *format;
    } else if (arg == "--store") {
      args.Value(a.store);
    } else if (arg == "--output") {
      args.Value(a.output);
    } else if (!arg.starts_with("-") && !a.kind) {
      a.kind = ReportKindNamed(arg);
      if (!a.kind) a.error = "no report " + arg + ": shift or object (see --help)";
    } else {
      a.error = "unknown option: " + arg + " (see --help)";
    }
  }
  if (!a.error.empty() || a.help || a.version) return a;
  if (!a.kind) {
    a.error = "which report: shift or object (see --help)";
  } else if (*a.kind == ReportKind::Object && a.address.empty()) {
    a.error = "object needs --address ADDR";
  } else if (a.from && a.to && *a.from > *a.to) {
    a.error = "--from is after --to";
  }
  return a;
}

ReportRange RangeOf(const Arguments& a, std::int64_t now) {
  if (!a.from && !a.to) return DefaultReportRange(*a.kind, now);
  if (a.from && a.to) return {*a.from, *a.to};
  if (a.from) return {*a.from, std::max(*a.from, now)};
  return {*a.kind == ReportKind::Shift ? *a.to - 12 * 3600 : LocalMonthStart(*a.to), *a.to};
}

}  // namespace

int main(int argc, char** argv) {
  const Arguments a = Parse(argc, argv);
  if (const std::optional<int> status = AnswerAtOnce(a, "pelvaron-report", kUsage, PELVARON_VERSION)) return *status;
  RealFileSystem files;
  // A table refused is the console's to tell; the report shows the shipped one's titles then.
  const PriorityTable table = TableInForce(LoadPriorityTable(files));
  const ReportRange range = RangeOf(a, static_cast<std::int64_t>(std::time(nullptr)));
  ReportQuery query;
  query.from = range.from;
  query.to = range.to;
  query.address = a.address;
  query.eventStore = a.store;
  const Result<ReportLoad> loaded = LoadReportData(query, table);
  if (!loaded) {
    std::cerr << "pelvaron-report: " << loaded.problem().text << " (" << loaded.problem().cause << ")\n";
    return 1;
  }
  for (const std::string& note : loaded->notes) std::cerr << "pelvaron-report: " << note << "\n";
  const std::string text = RenderReport(loaded->data, *a.kind, a.format, loaded->address);
  if (a.output.empty()) {
    std::cout << text;
    std::cout.flush();
    return std::cout ? 0 : 1;
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  if (const int err = files.ReplaceFile(a.output, std::span(bytes, text.size())); err != 0) {
    std::cerr << "pelvaron-report: отчёт не записан в " << a.output << ": " << std::strerror(err) << "\n";
    return 1;
  }
  return 0;
}
