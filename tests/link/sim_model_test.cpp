#include <gtest/gtest.h>

#include <string>

#include "sim/receiver_model.h"
#include "support/fakes.h"

namespace pelvaron::sim {
namespace {

using testing::Hex;

constexpr std::int64_t B = ReceiverModel::kByteTimeUs;
constexpr std::int64_t kMs = 1000;

const Frame kFrameA = SealedFrame({0x12, 0x34, 0x1F, 0x01, 0x13, 0x00, 0x01, 0x00});
const Frame kFrameB = SealedFrame({0x00, 0x12, 0x0A, 0x22, 0x02, 0x38, 0x00, 0x00});

std::vector<std::uint8_t> V(const Frame& f) {
  return {f.begin(), f.end()};
}

class ModelTest : public ::testing::Test {
 protected:
  // Sends a request at time t and collects everything due within the next second.
  std::vector<std::uint8_t> Ask(const std::string& request, std::int64_t t = 0) {
    model.Feed(reinterpret_cast<const std::uint8_t*>(request.data()), request.size(), t);
    return model.TakeDue(t + 1000 * kMs);
  }
  ReceiverModel model;
};

TEST_F(ModelTest, StatusFollowsTheQueue) {
  EXPECT_EQ(Ask("gs"), Hex("08"));
  model.Enqueue(kFrameA);
  EXPECT_EQ(Ask("gs"), Hex("0A"));
  model.SetStatusBits(0x0D, 0x05);  // hold, line fault, enclosure open
  EXPECT_EQ(Ask("gs"), Hex("07"));
  model.SetStatusBits(0x02, 0x00);  // bit 1 cannot be forced off while messages wait
  EXPECT_EQ(Ask("gs"), Hex("07"));
  model.SetStatusOverride(0xF0);
  EXPECT_EQ(Ask("gs"), Hex("F0"));
  model.SetStatusOverride(std::nullopt);
  EXPECT_EQ(Ask("gs"), Hex("07"));
}

TEST_F(ModelTest, NewMessageBecomesCurrent) {
  EXPECT_EQ(Ask("gn"), Hex("")) << "empty queue: no answer";
  EXPECT_EQ(Ask("gc"), Hex("")) << "no current message yet";
  model.Enqueue(kFrameA);
  model.Enqueue(kFrameB);
  EXPECT_EQ(Ask("gn"), V(kFrameA));
  EXPECT_EQ(Ask("gc"), V(kFrameA));
  EXPECT_EQ(Ask("gc"), V(kFrameA));
  EXPECT_EQ(model.QueueSize(), 1u);
  EXPECT_EQ(Ask("gn"), V(kFrameB));
  EXPECT_EQ(Ask("gs"), Hex("08"));
  EXPECT_EQ(Ask("gn"), Hex(""));
  EXPECT_EQ(Ask("gc"), V(kFrameB)) << "current stays after the queue empties";
  EXPECT_EQ(model.Requests(),
            (std::vector<std::string>{"gn", "gc", "gn", "gc", "gc", "gn", "gs", "gn", "gc"}));
}

TEST_F(ModelTest, AnswersArePacedAtTheBaudRate) {
  model.Enqueue(kFrameA);
  const std::string request = "gn";
  model.Feed(reinterpret_cast<const std::uint8_t*>(request.data()), 2, 1000 * kMs);
  EXPECT_EQ(model.NextDueUs(), 1000 * kMs + B);
  EXPECT_TRUE(model.TakeDue(1000 * kMs + B - 1).empty());
  EXPECT_EQ(model.TakeDue(1000 * kMs + 3 * B), Hex("12 34 1F"));
  EXPECT_EQ(model.TakeDue(1000 * kMs + 10 * B).size(), 7u);
  EXPECT_EQ(model.NextDueUs(), std::nullopt);
}

TEST_F(ModelTest, RequestsSplitJoinedOrAmidNoiseAreFound) {
  model.Enqueue(kFrameA);
  const std::uint8_t part1[] = {'g'};
  const std::uint8_t part2[] = {'s', 0x00, 0xFF, 'g', 'g', 's', 'x', 's', 's', 'g', 'n'};
  model.Feed(part1, 1, 0);
  model.Feed(part2, sizeof part2, 5 * kMs);
  EXPECT_EQ(model.Requests(), (std::vector<std::string>{"gs", "gs", "gn"}));
  auto out = model.TakeDue(1000 * kMs);
  EXPECT_EQ(out.size(), 12u) << "answers queue up one after the other";
}

TEST_F(ModelTest, HalfRequestIsDroppedAfterAPause) {
  const std::uint8_t head[] = {'g', 'd', 0x00};
  const std::uint8_t tail[] = {0x00, 0x05};
  model.Feed(head, 3, 0);
  EXPECT_EQ(model.NextDueUs(), ReceiverModel::kPartialRequestUs);
  model.Feed(tail, 2, ReceiverModel::kPartialRequestUs + 1);
  EXPECT_TRUE(model.Requests().empty());
  EXPECT_TRUE(model.TakeDue(1000 * kMs).empty());
  // The same bytes in time make a request.
  model.Feed(head, 3, 2000 * kMs);
  model.Feed(tail, 2, 2050 * kMs);
  EXPECT_EQ(model.Requests(), std::vector<std::string>{"gd"});
}

TEST_F(ModelTest, ParameterBlockReadAndWritten) {
  EXPECT_EQ(Ask(std::string("gd\0\0\5", 5)), Hex("64 00 00 02 04 80 00 EA"));
  EXPECT_EQ(Ask(std::string("sd\0\0\5\1\2\3\4\x85", 10)), Hex("")) << "no answer to sd";
  EXPECT_EQ(Ask(std::string("gd\0\0\5", 5)), Hex("64 01 02 03 04 85 00 F3"));
  // A wrong count is ignored, whole.
  EXPECT_EQ(Ask(std::string("gd\0\0\4", 5)), Hex(""));
  EXPECT_EQ(Ask(std::string("sd\0\0\4\7\7\7\7\7", 10)), Hex(""));
  EXPECT_EQ(model.Parameters(), (std::array<std::uint8_t, 5>{1, 2, 3, 4, 0x85}));
}

TEST_F(ModelTest, PartialStoreKeepsOnlyTheFirstBytes) {
  model.SetPartialStore(2, 1);
  Ask(std::string("sd\0\0\5\1\2\3\4\x85", 10));
  EXPECT_EQ(model.Parameters(), (std::array<std::uint8_t, 5>{1, 2, 0x02, 0x04, 0x80}));
  Ask(std::string("sd\0\0\5\1\2\3\4\x85", 10));
  EXPECT_EQ(model.Parameters(), (std::array<std::uint8_t, 5>{1, 2, 3, 4, 0x85})) << "only the next write";
}

TEST_F(ModelTest, FaultsShapeTheNextAnswers) {
  model.Enqueue(kFrameA);
  auto frame = V(kFrameA);
  model.AddFault({Fault::Kind::Short, 2, kCmdNew | kCmdCurrent, 1});
  EXPECT_EQ(Ask("gs"), Hex("0A")) << "gs is not among the commands";
  EXPECT_EQ(Ask("gn"), std::vector<std::uint8_t>(frame.begin(), frame.end() - 1));
  EXPECT_EQ(Ask("gc"), std::vector<std::uint8_t>(frame.begin(), frame.end() - 1));
  EXPECT_EQ(Ask("gc"), frame) << "two answers only";
  EXPECT_TRUE(model.Faults().empty());

  model.AddFault({Fault::Kind::Long, 1, kAnsweredCommands, 3});
  EXPECT_EQ(Ask("gc").size(), 13u);

  model.AddFault({Fault::Kind::BadSum, 1, kAnsweredCommands, 0});
  EXPECT_EQ(Ask("gs"), Hex("08")) << "a status byte has no sum: the fault waits";
  auto bad = Ask("gc");
  EXPECT_EQ(bad.back(), static_cast<std::uint8_t>(frame.back() + 1));
  EXPECT_EQ(Ask(std::string("gd\0\0\5", 5)), Hex("64 00 00 02 04 80 00 EA"));

  model.AddFault({Fault::Kind::Short, Fault::kForever, kCmdStatus, 1});
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Ask("gs"), Hex(""));
  model.ClearFaults();
  EXPECT_EQ(Ask("gs"), Hex("08"));
}

TEST_F(ModelTest, LateAndBytewiseAnswersAreTimed) {
  model.AddFault({Fault::Kind::Late, 1, kAnsweredCommands, 300});
  const std::uint8_t gs[] = {'g', 's'};
  model.Feed(gs, 2, 0);
  EXPECT_EQ(model.NextDueUs(), 300 * kMs + B);

  ReceiverModel m2;
  m2.Enqueue(kFrameA);
  m2.AddFault({Fault::Kind::Bytewise, 1, kAnsweredCommands, 15});
  const std::uint8_t gn[] = {'g', 'n'};
  m2.Feed(gn, 2, 0);
  EXPECT_EQ(m2.TakeDue(B).size(), 1u);
  EXPECT_TRUE(m2.TakeDue(B + 15 * kMs - 1).empty());
  EXPECT_EQ(m2.TakeDue(B + 15 * kMs).size(), 1u);
  EXPECT_EQ(m2.TakeDue(B + 9 * 15 * kMs).size(), 8u);
}

TEST_F(ModelTest, SilenceSwallowsRequestsForAWhile) {
  model.SilenceUntil(500 * kMs);
  EXPECT_EQ(Ask("gs", 100 * kMs), Hex(""));
  EXPECT_EQ(Ask(std::string("sd\0\0\5\1\2\3\4\x85", 10), 200 * kMs), Hex(""));
  EXPECT_EQ(model.Parameters(), ReceiverModel::kDefaultParameters) << "a silent receiver stores nothing";
  EXPECT_EQ(Ask("gs", 500 * kMs), Hex("08"));
  EXPECT_EQ(model.Requests().size(), 3u);
}

TEST_F(ModelTest, NoiseAndDroppedOutput) {
  model.Emit({1, 2, 3}, 0);
  EXPECT_EQ(Ask("gs"), Hex("01 02 03 08"));
  model.Emit({1, 2, 3}, 0);
  model.DropPending();
  EXPECT_EQ(model.NextDueUs(), std::nullopt);
}

TEST_F(ModelTest, QueueHasALimit) {
  for (std::size_t i = 0; i < ReceiverModel::kQueueLimit; ++i) ASSERT_TRUE(model.Enqueue(kFrameA));
  EXPECT_FALSE(model.Enqueue(kFrameB));
  model.ClearQueue();
  EXPECT_EQ(model.QueueSize(), 0u);
}

}  // namespace
}  // namespace pelvaron::sim
