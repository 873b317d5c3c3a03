#include "outputs/json_lines_sink.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "events/event_json.h"
#include "support/strict_json.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace pelvaron {
namespace {

using testing::ReadAll;
using testing::Reports;
using testing::TempDir;
using testing::WaitUntil;

Event Numbered(std::uint64_t seq) {
  Event e;
  e.seq = seq;
  e.kind = EventKind::LinkRestored;
  e.timeText = "2026-12-07T10:22:20+03:00";
  e.station = "пост-1";
  e.text = "Восстановление связи с Велдор";
  return e;
}

// The seq of each line, or -1 for a line that is not a whole event.
std::vector<std::int64_t> Seqs(const std::string& text) {
  std::vector<std::int64_t> seqs;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const auto json = testing::ParseJson(line);
    seqs.push_back(json && json->contains("seq") ? testing::Int(json->at("seq")) : -1);
  }
  if (!text.empty() && text.back() != '\n') seqs.push_back(-1);
  return seqs;
}

TEST(JsonLinesSinkTest, EventsAreAppendedAsLinesAndAMovedFileIsStartedAnew) {
  TempDir dir;
  const std::string path = dir / "events.jsonl";
  std::ofstream(path) << "{\"seq\":0}\n";  // what an earlier run wrote stays
  Reports reports;
  JsonLinesSink sink(path, reports.Sink());
  ASSERT_TRUE(sink.Open());
  sink.Start();
  for (std::uint64_t seq = 1; seq <= 3; ++seq) sink.Publish(Numbered(seq));
  ASSERT_TRUE(WaitUntil([&] { return Seqs(ReadAll(path)).size() == 4; }));
  EXPECT_EQ(Seqs(ReadAll(path)), (std::vector<std::int64_t>{0, 1, 2, 3}));

  // Log rotation moves the file away; the next events go to a new one.
  ASSERT_EQ(std::rename(path.c_str(), (path + ".1").c_str()), 0);
  for (std::uint64_t seq = 4; seq <= 6; ++seq) sink.Publish(Numbered(seq));
  ASSERT_TRUE(WaitUntil([&] { return Seqs(ReadAll(path)).size() + Seqs(ReadAll(path + ".1")).size() == 7; }));
  std::vector<std::int64_t> all = Seqs(ReadAll(path + ".1"));
  for (std::int64_t s : Seqs(ReadAll(path))) all.push_back(s);
  EXPECT_EQ(all, (std::vector<std::int64_t>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_FALSE(Seqs(ReadAll(path)).empty()) << "nothing went to the new file";
  EXPECT_TRUE(reports.Texts().empty());
}

TEST(JsonLinesSinkTest, AFullDiskLeavesOnlyWholeLinesAndTheEventsFollowInOrderOnceThereIsRoom) {
  TempDir dir;
  const std::string path = dir / "events.jsonl";
  const std::size_t line = EventJson(Numbered(1)).size() + 1;  // every line here is as long
  // The file may grow by a line and a half: the second line is cut short.
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit before{};
  ::getrlimit(RLIMIT_FSIZE, &before);
  rlimit small = before;
  small.rlim_cur = line + line / 2;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);

  Reports reports;
  JsonLinesSink sink(path, reports.Sink());
  ASSERT_TRUE(sink.Open());
  sink.Start();
  for (std::uint64_t seq = 1; seq <= 3; ++seq) sink.Publish(Numbered(seq));
  ASSERT_TRUE(WaitUntil([&] { return reports.Count("Не удалось записать событие") == 1; }));
  EXPECT_EQ(Seqs(ReadAll(path)), std::vector<std::int64_t>{1});

  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &before), 0);
  ASSERT_TRUE(WaitUntil([&] { return Seqs(ReadAll(path)).size() == 3; }));
  EXPECT_EQ(Seqs(ReadAll(path)), (std::vector<std::int64_t>{1, 2, 3}));
  ASSERT_TRUE(WaitUntil([&] { return reports.Count("возобновлена") == 1; }));
  EXPECT_EQ(reports.Count("Не удалось записать событие"), 1);
}

}  // namespace
}  // namespace pelvaron
