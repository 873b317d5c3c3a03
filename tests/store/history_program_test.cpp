// pelvaron-history against a seeded store: what an engineer types and reads.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "store_support.h"
#include "support/result_support.h"

namespace pelvaron {
namespace {

using testing::At;
using testing::Succeeded;

struct ProgramRun {
  int status = -1;
  std::string out;
};

class HistoryProgramTest : public testing::StoreFolder {
 protected:
  void SetUp() override {
    StoreFolder::SetUp();
    // Local noon of today and of yesterday, so that day searches are local days.
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    tm.tm_hour = 12;
    tm.tm_min = tm.tm_sec = 0;
    tm.tm_isdst = -1;
    today = std::mktime(&tm);
    char date[16];
    std::strftime(date, sizeof date, "%Y-%m-%d", &tm);
    todayText = date;
    EventStore store;
    ASSERT_TRUE(Succeeded(store.Open(path, EventStore::Mode::ReadWrite)));
    ASSERT_TRUE(Succeeded(store.Insert(At(1, today - 86400, "0012", "Тревога по шлейфам"), {"burglary", 1, "l"})));
    ASSERT_TRUE(Succeeded(store.Insert(At(2, today, "0012", "Тревога по шлейфам"), {"burglary", 1, "l"})));
    ASSERT_TRUE(Succeeded(store.Insert(At(3, today + 60, "0301", "Пожарная тревога, \"зона 3\""), {"fire", 1, "c"})));
    ASSERT_TRUE(Succeeded(store.Insert(At(4, today + 120, "0012", "Контрольное извещение"), {"information", 0, ""})));
  }
  ProgramRun RunProgram(const std::string& args) {
    ProgramRun r;
    const std::string command = "cd " + folder + " && " PELVARON_HISTORY_PROGRAM " " + args + " 2>&1";
    FILE* p = popen(command.c_str(), "r");
    char buffer[4096];
    std::size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) r.out.append(buffer, n);
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
  }
  static int Lines(const std::string& text) {
    int n = 0;
    for (char c : text) n += c == '\n';
    return n;
  }

  std::time_t today = 0;
  std::string todayText;
};

TEST_F(HistoryProgramTest, PrintsOneObjectsEventsNewestFirstInEachFormat) {
  ProgramRun r = RunProgram("--address 0012");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(Lines(r.out), 4) << r.out;  // the header and three events
  const std::size_t second = r.out.find("2  t");
  const std::size_t first = r.out.find("1  t");
  ASSERT_NE(second, std::string::npos) << r.out;
  EXPECT_LT(r.out.find("4  t"), second);
  EXPECT_LT(second, first);
  EXPECT_NE(r.out.find("Проникновение  Тревога по шлейфам  [не подтверждена]"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Пожарная"), std::string::npos);

  r = RunProgram("--address 12 --day " + todayText + " --format csv");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(Lines(r.out), 3) << r.out;
  EXPECT_EQ(r.out.rfind("seq,time,", 0), 0u);
  EXPECT_NE(r.out.find("\r\n2,t"), std::string::npos) << r.out;

  r = RunProgram("--priority Пожар --format json");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "{\"seq\":3,\"time\":\"t" + std::to_string(today + 60) +
                       "\",\"station\":\"\",\"kind\":\"message\",\"address\":\"0301\",\"priority\":\"fire\","
                       "\"role\":\"alarm\",\"text\":\"Пожарная тревога, \\\"зона 3\\\"\",\"acknowledged\":null}\n");

  r = RunProgram("--text ШЛЕЙФ --from '" + todayText + " 00:00' --limit 5");
  EXPECT_EQ(Lines(r.out), 2) << r.out;
}

TEST_F(HistoryProgramTest, AcknowledgesAnAlarmOnceAndRefusesWhatIsNoAlarm) {
  ProgramRun r = RunProgram("--ack 2 --note 'ложная тревога'");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "Тревога №2 (0012: Тревога по шлейфам) подтверждена; консоль запишет это в протокол.\n");
  r = RunProgram("--ack 2");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Тревога №2 уже подтверждена ", 0), 0u) << r.out;
  r = RunProgram("--ack 1");  // the same alarm of yesterday, still waiting then
  EXPECT_EQ(r.out.rfind("Тревога №1 уже подтверждена ", 0), 0u) << r.out;
  r = RunProgram("--address 0012 --format csv");
  EXPECT_NE(r.out.find(",ложная тревога\r\n"), std::string::npos) << r.out;

  r = RunProgram("--ack 4");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("событие №4 не тревога"), std::string::npos) << r.out;
  r = RunProgram("--ack 99");
  EXPECT_EQ(r.status, 1);
  r = RunProgram("--ack 3 --store missing.sqlite");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("хранилища событий missing.sqlite здесь нет"), std::string::npos) << r.out;
  r = RunProgram("--store missing.sqlite");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("не открывается: нет такого файла или папки (open: unable to open database file)"),
            std::string::npos)
      << r.out;
}

// A store another program wrote may hold any text: the table shows each
// event on one line, a control character as its mark.
TEST_F(HistoryProgramTest, TheTableShowsControlCharactersAsMarks) {
  {
    EventStore store;
    ASSERT_TRUE(Succeeded(store.Open(path, EventStore::Mode::ReadWrite)));
    ASSERT_TRUE(Succeeded(store.Insert(At(5, today + 180, "\x1b[2J", "Тревога\r\nподделка\a"), {"fire", 1, "c"})));
  }
  ProgramRun r = RunProgram("--limit 1");
  EXPECT_EQ(Lines(r.out), 2) << r.out;
  EXPECT_NE(r.out.find("<ESC>[2J  Пожар      Тревога<CR><LF>подделка<BEL>  [не подтверждена]"),
            std::string::npos)
      << r.out;
}

TEST_F(HistoryProgramTest, AWrongCommandLineSaysWhatIsWrong) {
  const struct {
    const char* args;
    const char* says;
  } cases[] = {
      {"--format xml", "--format takes table, csv or json"},
      {"--from yesterday", "--from: not a date or time"},
      {"--day '2026-12-07 10:00'", "--day takes a date without a time"},
      {"--priority loud", "there are: fire medical panic hazard burglary"},
      {"--limit 0", "--limit takes a number above 0"},
      {"--note x", "--note goes with --ack"},
      {"--ack 1 --note '😀'", "cannot hold every character"},
      {"--ack 2 --note \"$(printf 'ложная\\r\\n06:12:2026, 08:47:42  Выключение программы')\"",
       "--note: Примечание содержит управляющий символ <CR> (возврат каретки)"},
      {"--address", "--address needs a value"},
      {"--colour", "unknown option: --colour"},
  };
  for (const auto& c : cases) {
    ProgramRun r = RunProgram(c.args);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << ": " << r.out;
  }
  ProgramRun help = RunProgram("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--format FORMAT"), std::string::npos);
}

}  // namespace
}  // namespace pelvaron
