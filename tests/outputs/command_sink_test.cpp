#include "outputs/command_sink.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <cerrno>
#include <memory>
#include <sstream>

#include "support/strict_json.h"
#include "support/process_group.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace pelvaron {
namespace {

using testing::GroupAlive;
using testing::ReadAll;
using testing::Reports;
using testing::TempDir;
using testing::WaitUntil;

Event Numbered(std::uint64_t seq, EventKind kind = EventKind::LinkLost) {
  Event e;
  e.seq = seq;
  e.kind = kind;
  e.timeText = "2026-12-07T10:22:20+03:00";
  e.station = "пост-1";
  e.text = "Нет связи с Велдор!";
  return e;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(CommandSinkTest, TheCommandGetsTheEventAsJsonOnStdinAndItsFieldsInTheEnvironment) {
  TempDir dir;
  // The broker's password is the console's, never the command's.
  ::setenv("PELVARON_MQTT_PASSWORD", "secret", 1);
  Reports reports;
  const std::string command = "cat > '" + dir / "in.json" + "'; env | grep ^PELVARON_ | sort > '" +
                              dir / "env.txt" + "'; echo done >> '" + dir / "runs" + "'";
  CommandSink sink(command, 10000, reports.Sink());
  sink.Start();

  Event e = Numbered(42, EventKind::Message);
  const FrameBytes frame{18, 52, 63, 1, 19, 0, 5, 0, 0, 158};  // 1234: burglary, new, partition 01, zone 005
  auto message = std::make_shared<DecodedMessage>(DecodeMessage(frame.data()));
  e.address = "1234";
  e.text = MessageText(*message);
  e.message = message;
  sink.Publish(e);
  ASSERT_TRUE(WaitUntil([&] { return ReadAll(dir / "runs") == "done\n"; }));
  ::unsetenv("PELVARON_MQTT_PASSWORD");

  const std::string input = ReadAll(dir / "in.json");
  ASSERT_FALSE(input.empty());
  EXPECT_EQ(input.back(), '\n');
  std::string error;
  const auto json = testing::ParseJson(input, &error);
  ASSERT_TRUE(json) << error;
  EXPECT_EQ(testing::Int(json->at("seq")), 42);
  EXPECT_EQ(json->at("address"), "1234");

  const std::vector<std::string> env = Lines(ReadAll(dir / "env.txt"));
  for (const char* expected :
       {"PELVARON_ADDRESS=1234", "PELVARON_CODE=130", "PELVARON_KIND=message", "PELVARON_MESSAGE=contact-id",
        "PELVARON_NEW=1", "PELVARON_PARTITION=01", "PELVARON_SEQ=42", "PELVARON_STATION=пост-1",
        "PELVARON_TIME=2026-12-07T10:22:20+03:00", "PELVARON_ZONE=005", "PELVARON_RAW=12 34 3F 01 13 00 05 00 00 9E"}) {
    EXPECT_NE(std::find(env.begin(), env.end(), expected), env.end()) << expected << " in\n" << ReadAll(dir / "env.txt");
  }
  EXPECT_NE(std::find(env.begin(), env.end(), "PELVARON_TEXT=" + e.text), env.end());
  for (const std::string& v : env) EXPECT_EQ(v.find("PASSWORD"), std::string::npos) << v;
  EXPECT_TRUE(reports.Texts().empty());
}

TEST(CommandSinkTest, AHangingCommandIsCutOffWithItsProcessGroupAndTheNextEventsStillRun) {
  TempDir dir;
  Reports reports;
  // Events 1 and 2 hang (a shell and the sleep it started); the others finish.
  const std::string command = "echo $$ >> '" + dir / "groups" + "'; case $PELVARON_SEQ in 1|2) sleep 600 & wait;; esac; echo $PELVARON_SEQ >> '" +
                              dir / "runs" + "'";
  auto sink = std::make_unique<CommandSink>(command, 300, reports.Sink());
  sink->Start();
  for (std::uint64_t seq = 1; seq <= 4; ++seq) sink->Publish(Numbered(seq));
  ASSERT_TRUE(WaitUntil([&] { return ReadAll(dir / "runs") == "3\n4\n"; })) << ReadAll(dir / "runs");
  // Every process the hanging runs started is gone.
  for (const std::string& group : Lines(ReadAll(dir / "groups"))) {
    EXPECT_TRUE(WaitUntil([&] { return !GroupAlive(std::stoi(group)); })) << "group " << group;
  }
  // Two time-outs in a row, one cause: told once.
  EXPECT_EQ(reports.Count("не завершилась за 0,3 с"), 1) << ::testing::PrintToString(reports.Texts());
}

TEST(CommandSinkTest, FailuresAreToldOncePerCauseAndAgainAfterTheCommandHasWorked) {
  TempDir dir;
  Reports reports;
  // Exit codes by event: 3, 3, 0, 3, then a command that is not there.
  const std::string command = "echo $PELVARON_SEQ >> '" + dir / "runs" +
                              "'; case $PELVARON_SEQ in 3) exit 0;; 5) no-such-command-here;; *) exit 3;; esac";
  CommandSink sink(command, 10000, reports.Sink());
  sink.Start();
  for (std::uint64_t seq = 1; seq <= 5; ++seq) sink.Publish(Numbered(seq));
  ASSERT_TRUE(WaitUntil([&] { return ReadAll(dir / "runs") == "1\n2\n3\n4\n5\n"; }));
  ASSERT_TRUE(WaitUntil([&] { return reports.Texts().size() >= 4; })) << ::testing::PrintToString(reports.Texts());
  EXPECT_EQ(reports.Texts(), (std::vector<std::string>{
                                 "Команда для событий завершилась с кодом 3.",
                                 "Команда для событий снова выполняется успешно.",
                                 "Команда для событий завершилась с кодом 3.",
                                 "Команда для событий не найдена: " + command,
                             }));
}

}  // namespace
}  // namespace pelvaron
