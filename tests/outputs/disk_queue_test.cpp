#include "outputs/disk_queue.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/result_support.h"
#include "temp_dir.h"

namespace pelvaron {
namespace {

using testing::TempDir;

std::string Record(int i) {
  return "{\"seq\":" + std::to_string(i) + ",\"pad\":\"" + std::string(static_cast<std::size_t>(i % 7) * 10, 'x') + "\"}";
}

std::vector<DiskQueue::Record> ReadAllRecords(DiskQueue& q) {
  std::vector<DiskQueue::Record> out;
  while (q.ReadNext(3, out) != 0) {
  }
  return out;
}

std::vector<std::string> Data(const std::vector<DiskQueue::Record>& records) {
  std::vector<std::string> data;
  for (const auto& r : records) data.push_back(r.data);
  return data;
}

std::vector<std::string> Records(int from, int to) {
  std::vector<std::string> data;
  for (int i = from; i <= to; ++i) data.push_back(Record(i));
  return data;
}

TEST(DiskQueueTest, RecordsComeBackInOrderAcrossSegmentsAndRestartsFromTheFirstUnacknowledged) {
  TempDir dir;
  const DiskQueue::Limits small{1 << 20, 200};  // a segment every few records
  {
    DiskQueue q(dir / "q", small);
    ASSERT_TRUE(testing::Succeeded(q.Open()));
    for (int i = 1; i <= 40; ++i) ASSERT_TRUE(testing::Succeeded(q.Append(Record(i))));
    const auto records = ReadAllRecords(q);
    ASSERT_EQ(Data(records), Records(1, 40));
    EXPECT_FALSE(q.HasUnread());
    // The receiver took the first 25; a lost connection sends from 26 again.
    ASSERT_TRUE(testing::Succeeded(q.Acknowledge(records[24].end)));
    q.Rewind();
    EXPECT_EQ(Data(ReadAllRecords(q)), Records(26, 40));
    ASSERT_TRUE(testing::Succeeded(q.Sync()));
  }
  // Segments wholly acknowledged are gone from the disk.
  std::size_t segments = 0;
  for (const auto& f : std::filesystem::directory_iterator(dir / "q")) segments += f.path().extension() == ".jsonl";
  EXPECT_LT(segments, 10u);
  // A restart goes on from the first unacknowledged record, and appends after the rest.
  DiskQueue again(dir / "q", small);
  ASSERT_TRUE(testing::Succeeded(again.Open()));
  ASSERT_TRUE(testing::Succeeded(again.Append(Record(41))));
  EXPECT_EQ(Data(ReadAllRecords(again)), Records(26, 41));
}

TEST(DiskQueueTest, ATornLastLineIsCutOffAndAnUnreadablePositionSendsEverythingAgain) {
  TempDir dir;
  {
    DiskQueue q(dir / "q");
    ASSERT_TRUE(testing::Succeeded(q.Open()));
    for (int i = 1; i <= 3; ++i) ASSERT_TRUE(testing::Succeeded(q.Append(Record(i))));
    std::vector<DiskQueue::Record> first;
    q.ReadNext(1, first);
    ASSERT_TRUE(testing::Succeeded(q.Acknowledge(first[0].end)));
  }
  // A crash in the middle of a record, and a position file overwritten with junk.
  std::ofstream(dir / "q/0000000001.jsonl", std::ios::app) << "{\"seq\":4,\"pa";
  {
    DiskQueue q(dir / "q");
    ASSERT_TRUE(testing::Succeeded(q.Open()));
    ASSERT_TRUE(testing::Succeeded(q.Append(Record(5))));
    EXPECT_EQ(Data(ReadAllRecords(q)), (std::vector<std::string>{Record(2), Record(3), Record(5)}));
  }
  std::ofstream(dir / "q/acked", std::ios::trunc) << "garbage";
  DiskQueue q(dir / "q");
  ASSERT_TRUE(testing::Succeeded(q.Open()));
  // A duplicate is better than a loss.
  EXPECT_EQ(Data(ReadAllRecords(q)), (std::vector<std::string>{Record(1), Record(2), Record(3), Record(5)}));
}

TEST(DiskQueueTest, WhenFullTheOldestSegmentIsGivenUpAndCounted) {
  TempDir dir;
  DiskQueue q(dir / "q", {1000, 250});
  ASSERT_TRUE(testing::Succeeded(q.Open()));
  for (int i = 1; i <= 100; ++i) ASSERT_TRUE(testing::Succeeded(q.Append(Record(i))));
  EXPECT_LE(q.PendingBytes(), 1000u);
  const auto left = Data(ReadAllRecords(q));
  ASSERT_FALSE(left.empty());
  // The newest are all there, in order; the oldest went, and were counted.
  EXPECT_EQ(left.back(), Record(100));
  const int first = 100 - static_cast<int>(left.size()) + 1;
  EXPECT_EQ(left, Records(first, 100));
  EXPECT_EQ(q.Dropped(), static_cast<std::uint64_t>(first - 1));
}

TEST(DiskQueueTest, AReaderThatWasAheadOfADroppedSegmentMovesToTheOldestLeft) {
  TempDir dir;
  DiskQueue q(dir / "q", {600, 200});
  ASSERT_TRUE(testing::Succeeded(q.Open()));
  for (int i = 1; i <= 5; ++i) ASSERT_TRUE(testing::Succeeded(q.Append(Record(i))));
  std::vector<DiskQueue::Record> sent;
  q.ReadNext(2, sent);  // in flight, never acknowledged
  for (int i = 6; i <= 40; ++i) ASSERT_TRUE(testing::Succeeded(q.Append(Record(i))));
  q.Rewind();
  const auto left = Data(ReadAllRecords(q));
  ASSERT_FALSE(left.empty());
  EXPECT_EQ(left.back(), Record(40));
  EXPECT_EQ(left.size() + q.Dropped(), 40u);
}

}  // namespace
}  // namespace pelvaron
