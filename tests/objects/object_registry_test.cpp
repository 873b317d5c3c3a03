#include "objects/object_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "core/fixed_text.h"
#include "support/fakes.h"

namespace pelvaron {
namespace {

using testing::Cp;
using testing::MemoryFileSystem;
using testing::RecordingOperator;

constexpr std::size_t kRecord = 336;

struct Registry : ::testing::Test {
  MemoryFileSystem fs;
  RecordingOperator op;
  ObjectRegistry reg{fs, op};

  std::vector<std::uint8_t>& File() { return fs.files[kObjectsFileName]; }
  // Puts an object into a slot directly, as a loaded file would.
  ObjectRecord& Put(int slot, const std::string& address, int period = 60) {
    ObjectRecord& r = reg.Table()[slot];
    std::memset(&r, 0, sizeof r);
    WriteFixedText(r.szAddress, address);
    r.bUsed = 1;
    r.nPeriod = period;
    WriteFixedText(r.szComment, "c" + address);
    return r;
  }
  void PutRun(int n) {
    for (int s = 1; s <= n; ++s) Put(s, std::to_string(1000 + s));
  }
  std::string Address(int slot) { return ReadFixedText(reg.Table()[slot].szAddress); }
};

TEST(ObjectTexts, PeriodAndMinutes) {
  const std::pair<int, const char*> periods[] = {{120, "2h"},     {180, "3h"}, {60, "1h"},
                                                 {59940, "999h"}, {90, "90m"}, {59, "59m"},
                                                 {0, "0m"},       {61, "61m"}, {-60, "-60m"}};
  for (auto [minutes, text] : periods) EXPECT_EQ(FormatPeriod(minutes), text) << minutes;
  const std::pair<int, const char*> counts[] = {{0, "0m"},
                                                {59, "59m"},
                                                {60, "1h0m"},
                                                {125, "2h5m"},
                                                {1530, "25h30m"},
                                                {-61, "-1m"},
                                                {2147483647, "35791394h7m"}};
  for (auto [minutes, text] : counts) EXPECT_EQ(FormatMinutes(minutes), text) << minutes;
}

TEST_F(Registry, MissingFileIsCreatedBlankWithAZeroSlot0) {
  reg.LoadOrInitObjects();
  std::vector<std::uint8_t> expected(33936, 0);
  const std::string undefined = Cp("Не определён");
  for (int s = 1; s <= 100; ++s) {
    std::size_t base = kRecord * s;
    std::memcpy(&expected[base], "    ", 4);
    expected[base + 12] = ' ';
    std::memcpy(&expected[base + 136], undefined.data(), undefined.size());
    std::memcpy(&expected[base + 236], undefined.data(), undefined.size());
  }
  EXPECT_EQ(File(), expected);
  reg.RefreshObjectList();
  EXPECT_EQ(op.refreshes, (std::vector<std::vector<ObjectListRow>>{{}}));
  EXPECT_EQ(File(), expected);
  EXPECT_EQ(fs.replaceCount, 2);
  EXPECT_TRUE(op.messages.empty());
}

TEST_F(Registry, FilesOfAnyLengthLoadTheirPrefix) {
  std::vector<std::uint8_t> file(kRecord * 2 + 12, 0);  // slot 2 ends after its bUsed
  std::memcpy(&file[kRecord], "0001", 5);
  file[kRecord + 8] = 1;
  std::memcpy(&file[kRecord * 2], "0002", 5);
  file[kRecord * 2 + 8] = 1;
  fs.files[kObjectsFileName] = file;
  reg.Table()[2].nPeriod = 77;  // what the table held before stays
  reg.LoadOrInitObjects();
  EXPECT_EQ(fs.replaceCount, 0);  // an existing file is only read
  EXPECT_EQ(Address(2), "0002");
  EXPECT_EQ(reg.Table()[2].nPeriod, 77);
  EXPECT_EQ(reg.FirstFreeSlot(), 3);

  std::vector<std::uint8_t> big(40000, 0x77);
  big[33935] = 0x5A;
  fs.files[kObjectsFileName] = big;
  ASSERT_EQ(reg.LoadObject(), 0);
  EXPECT_EQ(static_cast<std::uint8_t>(reg.Table()[100].szLoop2Type[99]), 0x5A);
  fs.files[kObjectsFileName].clear();
  ASSERT_EQ(reg.LoadObject(), 0);
  EXPECT_EQ(static_cast<std::uint8_t>(reg.Table()[100].szLoop2Type[99]), 0x5A);
}

// A file system that reads straight into the span it is given, as a real one
// may: the load must hand it the whole table and keep it when the read fails.
class DirectReadFiles : public MemoryFileSystem {
 public:
  std::size_t spanSize = 0;
  int ReadPrefix(const std::string&, std::size_t, std::vector<std::uint8_t>&) override { return 5; }
  int ReadPrefixInto(const std::string& path, std::span<std::uint8_t> out, std::size_t& n) override {
    spanSize = out.size();
    n = 0;
    if (failRead) return failRead;
    const std::vector<std::uint8_t>& file = files.at(path);
    n = std::min(file.size(), out.size());
    std::copy_n(file.begin(), n, out.begin());
    return 0;
  }
};

TEST(RegistryLoad, FilesThatReadStraightIntoTheTableLoadTheSamePrefix) {
  DirectReadFiles fs;
  RecordingOperator op;
  ObjectRegistry reg(fs, op);
  std::vector<std::uint8_t> file(kRecord + 12, 0);  // slot 1 ends after its bUsed
  std::memcpy(&file[kRecord], "0001", 5);
  file[kRecord + 8] = 1;
  fs.files[kObjectsFileName] = file;
  reg.Table()[1].nPeriod = 77;  // behind the file's end: kept
  reg.LoadOrInitObjects();
  EXPECT_EQ(fs.spanSize, kObjectsFileSize);
  EXPECT_EQ(ReadFixedText(reg.Table()[1].szAddress), "0001");
  EXPECT_EQ(reg.Table()[1].nPeriod, 77);
  EXPECT_EQ(reg.ObjectCount(), 1);

  std::vector<std::uint8_t> big(40000, 0x77);
  big[33935] = 0x5A;
  big[33936] = 0x5B;  // past the table
  fs.files[kObjectsFileName] = big;
  ASSERT_EQ(reg.LoadObject(), 0);
  EXPECT_EQ(static_cast<std::uint8_t>(reg.Table()[100].szLoop2Type[99]), 0x5A);
  EXPECT_EQ(reg.Table()[1].nPeriod, 0x77777777);

  fs.failRead = 13;
  reg.Table()[1].nPeriod = 5;
  EXPECT_EQ(reg.LoadObject(), 1);
  EXPECT_EQ(reg.Table()[1].nPeriod, 5);
  EXPECT_TRUE(reg.SaveHeld());
  EXPECT_EQ(op.messages.back().text, "13 : System error(debugging info).\n in: LoadObject();");
}

TEST_F(Registry, AFreeSlotEndsEveryScan) {
  EXPECT_EQ(reg.FirstFreeSlot(), 1);
  PutRun(5);
  EXPECT_EQ(reg.FirstFreeSlot(), 6);
  reg.Table()[3].bUsed = 0;  // hides slots 4 and 5
  EXPECT_EQ(reg.ObjectCount(), 2);
  reg.RefreshObjectList();
  EXPECT_EQ(op.refreshes.back().size(), 2u);
  reg.Table()[3].bUsed = -1;  // anything but 0 counts as used
  EXPECT_EQ(reg.FirstFreeSlot(), 6);
}

TEST_F(Registry, RemovingSlot3Of5MovesTheLaterOnesDown) {
  PutRun(5);
  Put(7, "0007");  // behind the run
  const ObjectRecord free6 = reg.Table()[6];
  for (int outside : {0, -1, 7, 101}) reg.RemoveObjectSlot(outside);  // change nothing
  reg.RemoveObjectSlot(3);
  EXPECT_EQ(Address(2), "1002");
  EXPECT_EQ(Address(3), "1004");
  EXPECT_EQ(ReadFixedText(reg.Table()[3].szComment), "c1004");
  EXPECT_EQ(Address(4), "1005");
  EXPECT_EQ(std::memcmp(&reg.Table()[5], &free6, sizeof free6), 0);
  EXPECT_EQ(Address(7), "0007");
  EXPECT_EQ(reg.FirstFreeSlot(), 5);
  reg.RemoveObjectSlot(4);  // the last one
  EXPECT_EQ(reg.FirstFreeSlot(), 4);
}

// A foreign file may use slots 99 and 100, which the console never does.
TEST_F(Registry, NinetyNineAndHundredUsedSlotsStayInsideTheTable) {
  for (int used : {99, 100}) {
    SCOPED_TRACE(used);
    reg.InitObjects();
    PutRun(used);
    EXPECT_EQ(reg.FirstFreeSlot(), used + 1);
    reg.RefreshObjectList();
    EXPECT_EQ(op.refreshes.back().size(), static_cast<std::size_t>(used));
    reg.RemoveObjectSlot(50);
    EXPECT_EQ(Address(50), "1051");
    EXPECT_EQ(Address(used - 1), std::to_string(1000 + used));
    EXPECT_EQ(reg.FirstFreeSlot(), used);
    EXPECT_EQ(Address(100), "    ");
    PutRun(used);
    reg.RemoveObjectSlot(used);
    EXPECT_EQ(reg.FirstFreeSlot(), used);
  }
}

TEST_F(Registry, ResetObjectCounterClearsTheAlarmAndOnlyTheOverdueBit) {
  ObjectRecord& r = Put(1, "0001");
  r.byFlags = 0xFF;
  r.byLoopAlarm = 3;
  r.nTimeCounter = 500;
  r.bAlarm = 1;
  r.nState = OBJSTATE_LOOP_ALARM;
  reg.ResetObjectCounter(1);
  EXPECT_EQ(r.byFlags, 0xFE);
  EXPECT_EQ(r.nTimeCounter, 0);
  EXPECT_EQ(r.bAlarm, 0);
  EXPECT_EQ(r.nState, 0);
  EXPECT_EQ(r.byLoopAlarm, 3);
  reg.Table()[0].nTimeCounter = 9;
  reg.ResetObjectCounter(0);
  EXPECT_EQ(reg.Table()[0].nTimeCounter, 9);
}

TEST_F(Registry, RefreshShowsTheColumnsAndSaves) {
  Put(1, "0001", 120).bControl = 1;
  ObjectRecord& b = Put(2, "0002", 90);
  b.bControl = 7;  // only 1 shows "+"
  b.bAlarm = 1;
  b.nTimeCounter = 60;
  WriteFixedText(b.szComment, Cp("Склад №2"));
  ObjectRecord& c = Put(3, "0003", 59);
  c.bAlarm = 2;  // only 1 shows the red icon
  WriteFixedText(c.szComment, std::string(100, 'x'));
  reg.RefreshObjectList();
  EXPECT_EQ(op.refreshes.back(), (std::vector<ObjectListRow>{
                                     {false, " 0001", "+", "2h", "0m", "c0001"},
                                     {true, " 0002", "-", "90m", "1h0m", "Склад №2"},
                                     {false, " 0003", "-", "59m", "0m", std::string(100, 'x')},
                                 }));
  EXPECT_EQ(std::memcmp(File().data(), reg.Table().data(), 33936), 0);
}

TEST_F(Registry, EveryRefreshShowsTheTableAsItIsNow) {
  // Rows are only formatted again when their record changed: every kind of
  // change must still reach the list.
  PutRun(3);
  reg.RefreshObjectList();
  reg.RefreshObjectList();
  ASSERT_EQ(op.refreshes.size(), 2u);
  EXPECT_EQ(op.refreshes[1], op.refreshes[0]);

  reg.Table()[2].nTimeCounter = 61;
  reg.Table()[2].bAlarm = 1;
  WriteFixedText(reg.Table()[3].szComment, Cp("новый"));
  reg.RefreshObjectList();
  EXPECT_EQ(op.refreshes[2][0], op.refreshes[0][0]);
  EXPECT_EQ(op.refreshes[2][1].lastLink, "1h1m");
  EXPECT_TRUE(op.refreshes[2][1].bAlarm);
  EXPECT_EQ(op.refreshes[2][2].comment, "новый");

  reg.RemoveObjectSlot(1);
  reg.RefreshObjectList();
  ASSERT_EQ(op.refreshes[3].size(), 2u);
  EXPECT_EQ(op.refreshes[3][0], op.refreshes[2][1]);
  EXPECT_EQ(op.refreshes[3][1], op.refreshes[2][2]);

  Put(3, "0777");
  reg.RefreshObjectList();
  ASSERT_EQ(op.refreshes[4].size(), 3u);
  EXPECT_EQ(op.refreshes[4][2].address, " 0777");
  // Every refresh saves, changed or not.
  EXPECT_EQ(fs.replaceCount, 5);
}

TEST_F(Registry, SaveFailureIsToldEveryTimeAndKeepsTheOldFile) {
  reg.InitObjects();
  const auto old = File();
  Put(1, "0001");
  fs.failReplace = 28;
  EXPECT_EQ(reg.SaveObject(), 1);
  reg.RefreshObjectList();
  EXPECT_EQ(File(), old);
  EXPECT_EQ(op.refreshes.back().size(), 1u);
  const OperatorMessage told{"28 : System error(debugging info).\n in: SaveObject();", "", MessageIcon::None};
  EXPECT_EQ(op.messages, (std::vector<OperatorMessage>{told, told}));
}

TEST_F(Registry, UnreadableFileIsNotOverwrittenByRefreshes) {
  Put(1, "0042");
  fs.files[kObjectsFileName] = {1, 2, 3};
  fs.failRead = 13;
  reg.LoadOrInitObjects();
  EXPECT_EQ(op.messages,
            (std::vector<OperatorMessage>{
                {"13 : System error(debugging info).\n in: LoadObject();", "", MessageIcon::None}}));
  EXPECT_EQ(Address(1), "0042");  // the table keeps what it held
  reg.RefreshObjectList();        // start-up, ticks, loop-state messages
  reg.RefreshObjectList();
  EXPECT_EQ(op.refreshes.size(), 2u);
  EXPECT_EQ(fs.replaceCount, 0);
  EXPECT_EQ(File(), (std::vector<std::uint8_t>{1, 2, 3}));
  fs.failRead = 0;
  fs.files[kObjectsFileName] = std::vector<std::uint8_t>(kObjectsFileSize, 0);
  reg.LoadObject();  // readable again: saving goes on
  reg.RefreshObjectList();
  EXPECT_EQ(fs.replaceCount, 1);
}

}  // namespace
}  // namespace pelvaron
