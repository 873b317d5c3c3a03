// The shift report over a million events' worth of alarms: each alarm is four
// events (the alarm, its acknowledgement, an action, its close), so 250,000
// alarms over 30 days on 500 objects, with the overdue objects, the link's
// and the line's downtime and the operators' shifts of those days. Computed
// and written in each format, as pelvaron-report does once the data is read.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <ctime>
#include <random>
#include <string>

#include "reports/report_formats.h"
#include "reports/shift_report.h"

namespace {

using namespace pelvaron;

constexpr std::int64_t kEvents = 1'000'000;
constexpr std::int64_t kDay = 86400;

const ReportData& MillionEvents() {
  static const ReportData data = [] {
    setenv("TZ", "Europe/Moscow", 1);
    tzset();
    std::mt19937 random(1);
    const auto between = [&](std::int64_t low, std::int64_t high) {
      return std::uniform_int_distribution<std::int64_t>(low, high)(random);
    };
    ReportData d;
    d.from = 1796590800;  // 07.12.2026 00:00 in Moscow
    d.to = d.from + 30 * kDay;
    d.station = "Пульт";
    d.priorities = {{"fire", "Пожар", "#FF4040"},
                    {"panic", "Нападение", "#FF70D0"},
                    {"burglary", "Проникновение", "#FFA040"},
                    {"tamper", "Вскрытие", "#FFE060"},
                    {"trouble", "Неисправность", "#A0D0FF"},
                    {"supervision", "Контроль", "#C8C8FF"}};
    const char* outcomes[] = {"real", "false-equipment", "false-user", "test", "cancelled", "other"};
    const char* operators[] = {"Иванова", "Петров", "Сидорова", ""};
    const std::int64_t alarms = kEvents / 4;
    d.alarms.reserve(static_cast<std::size_t>(alarms));
    for (std::int64_t i = 0; i < alarms; ++i) {
      ReportAlarm a;
      a.id = static_cast<std::uint64_t>(i * 4 + 1);
      a.station = d.station;
      char address[24];
      std::snprintf(address, sizeof address, "%04lld", static_cast<long long>(between(1, 500)));
      a.address = address;
      const ReportPriority& p = d.priorities[static_cast<std::size_t>(between(0, 5))];
      a.priority = p.name;
      a.priorityTitle = p.title;
      a.text = "Охранная тревога";
      a.time = d.from + i * (30 * kDay) / alarms;
      a.acknowledged = a.time + between(2, 120);
      a.ackOperator = operators[between(0, 3)];
      a.actions.push_back({*a.acknowledged + 10, "key-holder-called",
                           "Сидоров (директор), +7 900 000-00-00: ответил", a.ackOperator});
      if (between(0, 19) != 0) {  // one in twenty still open
        a.closed = *a.acknowledged + between(20, 900);
        a.closeOperator = a.ackOperator;
        a.outcome = outcomes[between(0, 5)];
      }
      d.alarms.push_back(std::move(a));
    }
    for (int i = 0; i < 1000; ++i) {
      const std::int64_t from = d.from + between(0, 30 * kDay);
      d.overdue.push_back({from, from + between(60, 7200), std::to_string(between(1000, 1500))});
    }
    for (int i = 0; i < 50; ++i) {
      const std::int64_t from = d.from + between(0, 30 * kDay);
      d.linkDown.push_back({from, from + between(60, 600), ""});
      d.lineDown.push_back({from, from + between(60, 600), ""});
    }
    for (std::int64_t t = d.from; t < d.to; t += kDay / 2)
      d.signedIn.push_back({t, t + kDay / 2, operators[(t / 7) % 3]});
    return d;
  }();
  return data;
}

void BM_ComputeShiftReport(benchmark::State& state) {
  const ReportData& data = MillionEvents();
  for (auto _ : state) {
    ShiftReport report = ComputeShiftReport(data);
    benchmark::DoNotOptimize(report);
  }
  state.SetItemsProcessed(state.iterations() * kEvents);
}
BENCHMARK(BM_ComputeShiftReport)->Unit(benchmark::kMillisecond);

// Computed and written: the whole of pelvaron-report's work after its query.
void BM_ShiftReport(benchmark::State& state) {
  const ReportData& data = MillionEvents();
  const auto format = static_cast<ReportFormat>(state.range(0));
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::string text = RenderReport(data, ReportKind::Shift, format);
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetItemsProcessed(state.iterations() * kEvents);
  state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_ShiftReport)
    ->ArgName("html0_csv1_json2")
    ->Arg(static_cast<int>(ReportFormat::Html))
    ->Arg(static_cast<int>(ReportFormat::Csv))
    ->Arg(static_cast<int>(ReportFormat::Json))
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
