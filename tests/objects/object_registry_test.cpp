#include "objects/object_registry.h"

#include <gtest/gtest.h>

#include <cstring>
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
  std::string Address(int slot) { return ReadFixedText(reg.Table()[slot].szAddress); }
};

TEST(FormatPeriod, WholeHoursAsHoursElseMinutes) {
  const struct {
    int minutes;
    const char* text;
  } cases[] = {{120, "2h"}, {180, "3h"}, {60, "1h"}, {59940, "999h"}, {90, "90m"}, {30, "30m"},
               {59, "59m"}, {0, "0m"},   {1, "1m"},  {-60, "-60m"},   {61, "61m"}};
  for (const auto& c : cases) EXPECT_EQ(FormatPeriod(c.minutes), c.text) << c.minutes;
}

TEST(FormatMinutes, HoursAndMinutesWithoutLeadingZeros) {
  const struct {
    int minutes;
    const char* text;
  } cases[] = {{0, "0m"},   {59, "59m"},  {60, "1h0m"}, {125, "2h5m"},   {1530, "25h30m"},
               {-5, "-5m"}, {-61, "-1m"}, {61, "1h1m"}, {3600, "60h0m"}, {2147483647, "35791394h7m"}};
  for (const auto& c : cases) EXPECT_EQ(FormatMinutes(c.minutes), c.text) << c.minutes;
}

TEST_F(Registry, FreshFileHasBlankSlotsAndAZeroSlot0) {
  reg.LoadOrInitObjects();
  std::vector<std::uint8_t> expected(33936, 0);
  const std::string undefined = Cp("Не определён");
  ASSERT_EQ(undefined.size(), 12u);
  for (int s = 1; s <= 100; ++s) {
    std::size_t base = kRecord * s;
    std::memcpy(&expected[base], "    ", 4);
    expected[base + 12] = ' ';
    std::memcpy(&expected[base + 136], undefined.data(), undefined.size());
    std::memcpy(&expected[base + 236], undefined.data(), undefined.size());
  }
  ASSERT_EQ(File().size(), 33936u);
  EXPECT_EQ(File(), expected);
  EXPECT_TRUE(op.messages.empty());

  reg.RefreshObjectList();
  ASSERT_EQ(op.refreshes.size(), 1u);
  EXPECT_TRUE(op.refreshes[0].empty());
  EXPECT_EQ(File(), expected);
  EXPECT_EQ(fs.replaceCount, 2);  // InitObjects, then the refresh
}

TEST_F(Registry, InitKeepsWhatSlot0Held) {
  reg.Table()[0].bUsed = 7;
  reg.InitObjects();
  EXPECT_EQ(File()[8], 7);
}

TEST_F(Registry, ExistingFileIsLoadedNotWritten) {
  std::vector<std::uint8_t> file(33936, 0);
  std::memcpy(&file[kRecord + 0], "1234", 5);
  file[kRecord + 8] = 1;
  fs.files[kObjectsFileName] = file;
  reg.LoadOrInitObjects();
  EXPECT_EQ(fs.replaceCount, 0);
  EXPECT_EQ(Address(1), "1234");
  EXPECT_EQ(reg.FirstFreeSlot(), 2);
}

TEST_F(Registry, ShortFileFillsTheBeginningLongFileIsCut) {
  // Slot 1 complete, slot 2 cut after its bUsed.
  std::vector<std::uint8_t> file(kRecord * 2 + 12, 0);
  std::memcpy(&file[kRecord], "0001", 5);
  file[kRecord + 8] = 1;
  std::memcpy(&file[kRecord * 2], "0002", 5);
  file[kRecord * 2 + 8] = 1;
  fs.files[kObjectsFileName] = file;
  reg.Table()[2].nPeriod = 77;  // stands for what the table held before
  reg.Table()[3].bUsed = 0;
  ASSERT_EQ(reg.LoadObject(), 0);
  EXPECT_EQ(Address(2), "0002");
  EXPECT_EQ(reg.Table()[2].nPeriod, 77);
  EXPECT_EQ(reg.FirstFreeSlot(), 3);

  std::vector<std::uint8_t> big(40000, 0);
  big[33935] = 0x5A;  // last byte of slot 100
  big[33936] = 0x77;  // beyond the table
  fs.files[kObjectsFileName] = big;
  ASSERT_EQ(reg.LoadObject(), 0);
  EXPECT_EQ(static_cast<std::uint8_t>(reg.Table()[100].szLoop2Type[99]), 0x5A);

  fs.files[kObjectsFileName].clear();  // an empty file changes nothing
  reg.Table()[1].nPeriod = 5;
  ASSERT_EQ(reg.LoadObject(), 0);
  EXPECT_EQ(reg.Table()[1].nPeriod, 5);
}

TEST_F(Registry, FirstFreeSlotAndTheEndOfEveryScan) {
  EXPECT_EQ(reg.FirstFreeSlot(), 1);
  for (int s = 1; s <= 5; ++s) Put(s, "000" + std::to_string(s));
  EXPECT_EQ(reg.FirstFreeSlot(), 6);
  reg.Table()[3].bUsed = 0;  // a gap hides slots 4 and 5
  EXPECT_EQ(reg.FirstFreeSlot(), 3);
  EXPECT_EQ(reg.ObjectCount(), 2);
  EXPECT_FALSE(reg.IsObjectSlot(4));
  reg.RefreshObjectList();
  ASSERT_EQ(op.refreshes.back().size(), 2u);
  EXPECT_EQ(op.refreshes.back()[1].address, " 0002");
  reg.Table()[3].bUsed = -1;  // anything but 0 counts as used
  EXPECT_EQ(reg.FirstFreeSlot(), 6);
}

TEST_F(Registry, RemovingSlot3Of5MovesTheLaterOnesDown) {
  for (int s = 1; s <= 5; ++s) Put(s, "000" + std::to_string(s));
  const ObjectRecord free6 = reg.Table()[6];
  reg.RemoveObjectSlot(3);
  EXPECT_EQ(Address(1), "0001");
  EXPECT_EQ(Address(2), "0002");
  EXPECT_EQ(Address(3), "0004");
  EXPECT_EQ(Address(4), "0005");
  EXPECT_EQ(ReadFixedText(reg.Table()[3].szComment), "c0004");
  EXPECT_EQ(std::memcmp(&reg.Table()[5], &free6, sizeof free6), 0);
  EXPECT_EQ(reg.FirstFreeSlot(), 5);

  reg.RemoveObjectSlot(4);  // the last object
  EXPECT_EQ(reg.FirstFreeSlot(), 4);
  reg.RemoveObjectSlot(1);
  EXPECT_EQ(Address(1), "0002");
  EXPECT_EQ(reg.FirstFreeSlot(), 3);
}

TEST_F(Registry, RemovingOutsideTheRunChangesNothing) {
  for (int s = 1; s <= 3; ++s) Put(s, "000" + std::to_string(s));
  Put(6, "0006");  // behind the first free slot
  const ObjectTable before = reg.Table();
  for (int slot : {0, -1, 5, 6, 101, 1000}) {
    reg.RemoveObjectSlot(slot);
    EXPECT_EQ(std::memcmp(reg.Table().data(), before.data(), sizeof before), 0) << slot;
  }
}

// A foreign file may use slots 99 and 100, which the console never does.
TEST_F(Registry, NinetyNineAndHundredUsedSlotsStayInsideTheTable) {
  for (int used : {99, 100}) {
    SCOPED_TRACE(used);
    reg.InitObjects();
    for (int s = 1; s <= used; ++s) Put(s, std::to_string(1000 + s));
    EXPECT_EQ(reg.FirstFreeSlot(), used + 1);
    reg.RefreshObjectList();
    EXPECT_EQ(op.refreshes.back().size(), static_cast<std::size_t>(used));
    EXPECT_EQ(op.refreshes.back().back().address, " " + std::to_string(1000 + used));

    reg.RemoveObjectSlot(50);
    EXPECT_EQ(Address(50), "1051");
    EXPECT_EQ(Address(used - 1), std::to_string(1000 + used));
    EXPECT_EQ(reg.FirstFreeSlot(), used);
    EXPECT_EQ(reg.Table()[100].bUsed, 0);
    EXPECT_EQ(ReadFixedText(reg.Table()[100].szAddress), "    ");

    // Remove the last one of a full table too.
    for (int s = 1; s <= used; ++s) Put(s, std::to_string(1000 + s));
    reg.RemoveObjectSlot(used);
    EXPECT_EQ(reg.FirstFreeSlot(), used);
    EXPECT_EQ(reg.Table()[100].bUsed, 0);
  }
}

TEST_F(Registry, ResetObjectCounterClearsAlarmAndOnlyTheOverdueBit) {
  ObjectRecord& r = Put(1, "0001");
  r.byFlags = 0xFF;
  r.byLoopAlarm = 3;
  r.nTimeCounter = 500;
  r.bAlarm = 1;
  r.nState = OBJSTATE_LOOP_ALARM;
  r.bControl = 1;
  reg.ResetObjectCounter(1);
  EXPECT_EQ(r.byFlags, 0xFE);
  EXPECT_EQ(r.nTimeCounter, 0);
  EXPECT_EQ(r.bAlarm, 0);
  EXPECT_EQ(r.nState, 0);
  EXPECT_EQ(r.byLoopAlarm, 3);
  EXPECT_EQ(r.bControl, 1);

  reg.Table()[0].nTimeCounter = 9;
  reg.ResetObjectCounter(0);
  reg.ResetObjectCounter(101);
  EXPECT_EQ(reg.Table()[0].nTimeCounter, 9);
}

TEST_F(Registry, RefreshShowsTheColumnsAndSaves) {
  reg.InitObjects();
  ObjectRecord& a = Put(1, "0001", 120);
  a.bControl = 1;
  ObjectRecord& b = Put(2, "0002", 90);
  b.bControl = 7;  // only 1 shows "+"
  b.bAlarm = 1;
  b.nTimeCounter = 60;
  WriteFixedText(b.szComment, Cp("Склад №2"));
  ObjectRecord& c = Put(3, "0003", 59);
  c.bAlarm = 2;  // only 1 shows the red icon
  c.nTimeCounter = 59;
  reg.RefreshObjectList();
  ASSERT_EQ(op.refreshes.size(), 1u);
  const auto& rows = op.refreshes[0];
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0], (ObjectListRow{false, " 0001", "+", "2h", "0m", "c0001"}));
  EXPECT_EQ(rows[1], (ObjectListRow{true, " 0002", "-", "90m", "1h0m", "Склад №2"}));
  EXPECT_EQ(rows[2], (ObjectListRow{false, " 0003", "-", "59m", "59m", "c0003"}));
  EXPECT_EQ(std::memcmp(File().data(), reg.Table().data(), 33936), 0);
}

TEST_F(Registry, FullLengthTextsStayInTheirFields) {
  ObjectRecord& r = Put(1, "0001");
  r.bControl = 1;
  ObjectRecord& next = Put(2, "0002");
  const std::string comment(100, 'x');
  WriteFixedText(r.szComment, comment);
  WriteFixedText(r.szLoop2Type, std::string(100, 'y'));
  EXPECT_EQ(r.bControl, 1);
  EXPECT_EQ(Address(2), "0002");
  reg.RefreshObjectList();
  ObjectRegistry again(fs, op);
  ASSERT_EQ(again.LoadObject(), 0);
  EXPECT_EQ(ReadFixedText(again.Table()[1].szComment), comment);
  EXPECT_EQ(ReadFixedText(again.Table()[1].szLoop2Type), std::string(100, 'y'));
  EXPECT_EQ(op.refreshes.back()[0].comment, comment);
  EXPECT_EQ(std::memcmp(&again.Table()[2], &next, sizeof next), 0);
}

TEST_F(Registry, StateTextsAndUnknownCodes) {
  EXPECT_EQ(ObjectStateText(0), "Состояние объекта - Норма");
  EXPECT_EQ(ObjectStateText(1), "Тревога на объекте - вскрытие корпуса УОО!");
  EXPECT_EQ(ObjectStateText(2), "Тревога на объекте - экстренный вызов с объекта!");
  EXPECT_EQ(ObjectStateText(3),
            "Тревога на объекте - отсутствие контрольного сообщения от ИО в течение установленного интервала "
            "анализа!");
  EXPECT_EQ(ObjectStateText(4), "Тревога - нарушение охранных шлейфов!");
  EXPECT_EQ(ObjectStateText(5), "");
  EXPECT_EQ(ObjectStateText(7), "");
  EXPECT_EQ(ObjectStateText(-1), "");
}

TEST_F(Registry, SaveFailureIsReportedAndTheOldFileKept) {
  reg.InitObjects();
  const auto old = File();
  Put(1, "0001");
  fs.failReplace = 28;
  EXPECT_EQ(reg.SaveObject(), 1);
  EXPECT_EQ(File(), old);
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0], (OperatorMessage{"28 : System error(debugging info).\n in: SaveObject();", "",
                                             MessageIcon::None}));
  reg.RefreshObjectList();  // every later save tells again; the list is shown all the same
  EXPECT_EQ(op.messages.size(), 2u);
  EXPECT_EQ(op.refreshes.back().size(), 1u);
}

TEST_F(Registry, UnreadableFileIsKeptUntilTheOperatorChangesSomething) {
  fs.files[kObjectsFileName] = {1, 2, 3};
  fs.failRead = 13;
  reg.LoadOrInitObjects();
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0], (OperatorMessage{"13 : System error(debugging info).\n in: LoadObject();", "",
                                             MessageIcon::None}));
  EXPECT_EQ(reg.FirstFreeSlot(), 1);
  EXPECT_TRUE(reg.SaveHeld());
  reg.RefreshObjectList();  // start-up, ticks, loop-state messages
  reg.RefreshObjectList();
  EXPECT_EQ(op.refreshes.size(), 2u);
  EXPECT_EQ(fs.replaceCount, 0);
  EXPECT_EQ(fs.files[kObjectsFileName], (std::vector<std::uint8_t>{1, 2, 3}));

  reg.OperatorChangedObjects();
  reg.RefreshObjectList();
  EXPECT_EQ(fs.replaceCount, 1);
  EXPECT_EQ(File().size(), 33936u);
}

TEST_F(Registry, LoadFailureKeepsTheTable) {
  Put(1, "0042");
  fs.files[kObjectsFileName] = std::vector<std::uint8_t>(33936, 0);
  fs.failRead = 5;
  EXPECT_EQ(reg.LoadObject(), 1);
  EXPECT_EQ(Address(1), "0042");
  fs.failRead = 0;
  EXPECT_EQ(reg.LoadObject(), 0);  // a later good load lifts the hold
  EXPECT_FALSE(reg.SaveHeld());
}

TEST_F(Registry, CapacityMessage) {
  EXPECT_EQ(
      CapacityMessage(),
      (OperatorMessage{"В данной версии программы допустимое количество объектов\n ограничено числом 100",
                       "Ограничение", MessageIcon::Exclamation}));
}

}  // namespace
}  // namespace pelvaron
