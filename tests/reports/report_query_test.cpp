// The reports' data read from a seeded store, and pelvaron-report run on it.
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "report_samples.h"
#include "report_store_seed.h"
#include "reports/query/report_query.h"
#include "reports/report_formats.h"
#include "reports/shift_report.h"
#include "station/station_store.h"

namespace pelvaron {
namespace {

using testing::kHour;
using testing::kShiftStart;
constexpr std::int64_t S = kShiftStart;
constexpr std::int64_t kEnd = S + 12 * kHour;

// A shift's store (SeedShift).
class ReportQueryTest : public testing::ReportTest {
 protected:
  void SetUp() override {
    ReportTest::SetUp();
    char name[] = "/tmp/pelvaron-report-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    folder_ = name;
    store_ = folder_ + "/events.sqlite";
    EventStore store;
    ASSERT_TRUE(store.Open(store_, EventStore::Mode::ReadWrite));
    testing::StoreSeed put(store);
    const testing::SeededShift ids = testing::SeedShift(put, S);
    fire_ = ids.fire;
    again_ = ids.again;
    panic_ = ids.panic;
  }
  void TearDown() override {
    std::filesystem::remove_all(folder_);
    ReportTest::TearDown();
  }

  ReportLoad Load(const std::string& address = {}) {
    ReportQuery q;
    q.from = S;
    q.to = kEnd;
    q.address = address;
    q.eventStore = store_;
    Result<ReportLoad> loaded = LoadReportData(q, PriorityTable::Defaults());
    EXPECT_TRUE(loaded) << (loaded ? "" : loaded.problem().text);
    return loaded ? std::move(*loaded) : ReportLoad{};
  }

  struct Run {
    int status = -1;
    std::string out;
  };
  Run Program(const std::string& args) {
    Run r;
    const std::string command = "cd " + folder_ + " && " PELVARON_REPORT_PROGRAM " " + args + " 2>&1";
    FILE* p = popen(command.c_str(), "r");
    char buffer[4096];
    std::size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) r.out.append(buffer, n);
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
  }

  std::string folder_, store_;
  std::uint64_t fire_ = 0, again_ = 0, panic_ = 0;
};

using Times = std::vector<std::pair<std::int64_t, std::int64_t>>;
Times TimesOf(const std::vector<Interval>& list, std::vector<std::string>* who = nullptr) {
  Times t;
  for (const Interval& i : list) {
    t.emplace_back(i.from - S, i.to - S);
    if (who != nullptr) who->push_back(i.who);
  }
  return t;
}

TEST_F(ReportQueryTest, ReadsTheShiftAsTheQueueHeldIt) {
  const ReportLoad load = Load();
  const ReportData& d = load.data;
  EXPECT_EQ(d.station, "Пульт");
  EXPECT_EQ(d.thresholds, ReportThresholds{});
  // Repeats folded, the alarm raised before the shift and the openings left out.
  struct Expected {
    std::uint64_t id;
    std::optional<std::int64_t> ack, closed;
    std::string ackOperator, closeOperator, outcome;
    std::size_t actions;
  };
  const std::vector<Expected> expected = {
      {fire_, S + 40, S + 120, "Иванова", "Иванова", "false-user", 1},
      {again_, S + 230, std::nullopt, "", "", "", 0},  // still open; acknowledged by nobody known
      {panic_, S + 11 * kHour + 30, kEnd + 600, "Петров", "Петров", "real", 1},  // closed after the range
  };
  ASSERT_EQ(d.alarms.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const ReportAlarm& a = d.alarms[i];
    const Expected& e = expected[i];
    SCOPED_TRACE(a.id);
    EXPECT_EQ(a.id, e.id);
    EXPECT_EQ(a.acknowledged, e.ack);
    EXPECT_EQ(a.closed, e.closed);
    EXPECT_EQ(a.ackOperator, e.ackOperator);
    EXPECT_EQ(a.closeOperator, e.closeOperator);
    EXPECT_EQ(a.outcome, e.outcome);
    EXPECT_EQ(a.actions.size(), e.actions);
    EXPECT_EQ(a.station, "Пульт");
  }
  EXPECT_EQ(d.alarms[0].priorityTitle, "Пожар");
  EXPECT_EQ(d.alarms[0].actions[0].operatorName, "Иванова");
  EXPECT_EQ(d.alarms[0].actions[0].detail, "Петров (владелец): ответил");
  EXPECT_EQ(d.alarms[2].outcomeNote, "взлом двери");

  // States begun before the range start with it, those open at its end end
  // there, and the console's stop ends them.
  std::vector<std::string> operators, objects;
  EXPECT_EQ(TimesOf(d.linkDown), (Times{{0, 600}}));
  EXPECT_EQ(TimesOf(d.lineDown), (Times{{11 * kHour + 100, 12 * kHour}}));
  EXPECT_EQ(TimesOf(d.overdue, &objects), (Times{{0, kHour}}));
  EXPECT_EQ(objects, std::vector<std::string>{"0034"});
  EXPECT_EQ(TimesOf(d.signedIn, &operators),
            (Times{{0, 4 * kHour}, {4 * kHour, 6 * kHour}, {6 * kHour + 120, 12 * kHour}}));
  EXPECT_EQ(operators, (std::vector<std::string>{"Иванова", "Петров", "Петров"}));
  EXPECT_TRUE(d.openings.empty());

  // The computing counts by the range's end: the panic closed after it is open.
  const ShiftReport r = ComputeShiftReport(d);
  EXPECT_EQ(r.ack.count, 3u);
  EXPECT_EQ(r.close.count, 1u);
  EXPECT_EQ(r.open, 2u);
}

TEST_F(ReportQueryTest, ReadsOneObjectWithItsOpeningsAndTheStationsThresholds) {
  {
    StationStore station;
    ASSERT_TRUE(station.Open(folder_ + "/station.sqlite", StationStore::Mode::ReadWrite));
    ASSERT_TRUE(station.SetThresholds({20, 90}));
  }
  const ReportLoad load = Load("12");
  EXPECT_EQ(load.address, "0012");
  EXPECT_EQ(load.data.thresholds, (ReportThresholds{20, 90}));
  EXPECT_TRUE(load.notes.empty());
  ASSERT_EQ(load.data.alarms.size(), 1u);
  EXPECT_EQ(load.data.alarms[0].id, panic_);
  EXPECT_TRUE(load.data.overdue.empty());
  ASSERT_EQ(load.data.openings.size(), 2u);
  const OpeningClosing& open = load.data.openings[0];
  const OpeningClosing& close = load.data.openings[1];
  EXPECT_EQ(std::make_tuple(open.time, open.address, open.code, open.opening, open.user),
            std::make_tuple(S + 300, std::string("0012"), 401, true, std::string("3")));
  EXPECT_EQ(std::make_tuple(close.time, close.opening), std::make_tuple(S + 5000, false));
}

TEST_F(ReportQueryTest, ProgramWritesTheReportAndSaysWhatIsWrong) {
  const std::string range = "--from '07.12.2026 08:00' --to '2026-12-07 20:00'";
  const Run csv = Program("shift " + range + " --format csv");
  EXPECT_EQ(csv.status, 0) << csv.out;
  EXPECT_EQ(csv.out,
            "number,station,address,priority,time,acknowledged_at,closed_at,operator,outcome,"
            "seconds_to_acknowledge,seconds_to_close\r\n"
            "5,Пульт,0056,Пожар,2026-12-07T08:00:10+03:00,2026-12-07T08:00:40+03:00,2026-12-07T08:02:00+03:00,"
            "Иванова,Ложная тревога — ошибка пользователя,30,110\r\n"
            "11,Пульт,0056,Пожар,2026-12-07T08:03:20+03:00,2026-12-07T08:03:50+03:00,,оператор не указан,,30,\r\n"
            "22,Пульт,0012,Нападение,2026-12-07T19:00:00+03:00,2026-12-07T19:00:30+03:00,,Петров,,30,\r\n");

  // Into a file, the same bytes; the object report by its address.
  EXPECT_EQ(Program("shift " + range + " --format csv --output out.csv").status, 0);
  std::ifstream file(folder_ + "/out.csv", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), csv.out);
  const Run object = Program("object --address 12 " + range + " --format json");
  EXPECT_EQ(object.status, 0) << object.out;
  EXPECT_NE(object.out.find("\"0012\""), std::string::npos) << object.out;

  struct Refusal {
    std::string args;
    int status;
    std::string says;
  };
  const std::vector<Refusal> refusals = {
      {"shift --from 2026-13-01", 2, "--from: not a date or time: 2026-13-01"},
      {"object " + range, 2, "object needs --address"},
      {"monthly", 2, "no report monthly"},
      {"shift --format pdf", 2, "--format takes html, csv or json"},
      {"shift --from 2026-12-08 --to 2026-12-07", 2, "--from is after --to"},
      {"shift --store nowhere.sqlite", 1, "Хранилища событий nowhere.sqlite нет"},
      {"shift --output /nonexistent/r.html", 1, "отчёт не записан в /nonexistent/r.html"},
  };
  for (const Refusal& r : refusals) {
    const Run run = Program(r.args);
    EXPECT_EQ(run.status, r.status) << r.args << "\n" << run.out;
    EXPECT_NE(run.out.find(r.says), std::string::npos) << r.args << "\n" << run.out;
  }
}

}  // namespace
}  // namespace pelvaron
