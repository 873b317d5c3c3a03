// The objects file built byte by byte at the record's documented offsets,
// independent of the struct, then loaded and saved through the registry: a
// field moved, swapped or resized in ObjectRecord shows here.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/fixed_text.h"
#include "objects/object_registry.h"
#include "support/fakes.h"

namespace pelvaron {
namespace {

using testing::Cp;
using testing::MemoryFileSystem;
using testing::RecordingOperator;

constexpr std::size_t kRecordBytes = 336;
constexpr std::size_t kFileBytes = 33936;

struct Record {
  int slot;
  std::string address;  // UTF-8; stored as Windows-1251
  std::int32_t bUsed;
  std::string comment;
  std::int32_t bControl;
  std::int32_t nPeriod;
  std::int32_t bRegistered;
  std::int32_t bAlarm;
  std::int16_t nState;
  std::uint8_t byFlags;
  std::uint8_t byLoopAlarm;
  std::int32_t nTimeCounter;
  std::string loop1Type;
  std::string loop2Type;
};

// No two integer fields of a record share a value, and the wide values have
// four different bytes, so a swap, a shift or a byte-order slip changes one.
const Record kRecords[] = {
    {1, "0001", 1, "Склад №3", 11, 120, 12, 13, OBJSTATE_NO_CONTROL, 0x01, 0x02, 125,
     "Охранный", "Не определён"},
    {2, "9999", 1, "Офис", 0, 59940, 0x01020304, 0x05060708, -2, 0x81, 0x42, 0x0A0B0C0D,
     "Пожарный", "Тревожная кнопка"},
    // Behind the free slot 3: never looked at, but carried through load and save.
    {100, "4321", 21, "Конец", 22, 23, 24, 25, 26, 27, 28, 29, "Последний", "Хвост"},
};

void PutLe(std::vector<std::uint8_t>& file, std::size_t at, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) file[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void PutText(std::vector<std::uint8_t>& file, std::size_t at, const std::string& utf8) {
  const std::string cp = Cp(utf8);
  std::memcpy(&file[at], cp.data(), cp.size());  // the zero behind it is already there
}

std::vector<std::uint8_t> BuildFile() {
  std::vector<std::uint8_t> file(kFileBytes, 0);
  // Slot 0 holds no object but is carried along byte for byte.
  for (std::size_t i = 0; i < kRecordBytes; ++i) file[i] = static_cast<std::uint8_t>(i * 7 + 1);
  for (const Record& r : kRecords) {
    const std::size_t b = kRecordBytes * r.slot;
    PutText(file, b + 0, r.address);
    PutLe(file, b + 8, r.bUsed, 4);
    PutText(file, b + 12, r.comment);
    PutLe(file, b + 112, r.bControl, 4);
    PutLe(file, b + 116, r.nPeriod, 4);
    PutLe(file, b + 120, r.bRegistered, 4);
    PutLe(file, b + 124, r.bAlarm, 4);
    PutLe(file, b + 128, static_cast<std::uint16_t>(r.nState), 2);
    PutLe(file, b + 130, r.byFlags, 1);
    PutLe(file, b + 131, r.byLoopAlarm, 1);
    PutLe(file, b + 132, static_cast<std::uint32_t>(r.nTimeCounter), 4);
    PutText(file, b + 136, r.loop1Type);
    PutText(file, b + 236, r.loop2Type);
  }
  return file;
}

TEST(ObjectFileLayout, EveryFieldLoadsFromItsOffsetAndSavesBackByteForByte) {
  MemoryFileSystem fs;
  RecordingOperator op;
  ObjectRegistry reg{fs, op};
  const std::vector<std::uint8_t> built = BuildFile();
  fs.files[kObjectsFileName] = built;

  ASSERT_EQ(reg.LoadObject(), 0);
  for (const Record& want : kRecords) {
    SCOPED_TRACE(want.slot);
    const ObjectRecord& got = reg.Table()[want.slot];
    EXPECT_EQ(ReadFixedText(got.szAddress), Cp(want.address));
    EXPECT_EQ(got.bUsed, want.bUsed);
    EXPECT_EQ(ReadFixedText(got.szComment), Cp(want.comment));
    EXPECT_EQ(got.bControl, want.bControl);
    EXPECT_EQ(got.nPeriod, want.nPeriod);
    EXPECT_EQ(got.bRegistered, want.bRegistered);
    EXPECT_EQ(got.bAlarm, want.bAlarm);
    EXPECT_EQ(got.nState, want.nState);
    EXPECT_EQ(got.byFlags, want.byFlags);
    EXPECT_EQ(got.byLoopAlarm, want.byLoopAlarm);
    EXPECT_EQ(got.nTimeCounter, want.nTimeCounter);
    EXPECT_EQ(ReadFixedText(got.szLoop1Type), Cp(want.loop1Type));
    EXPECT_EQ(ReadFixedText(got.szLoop2Type), Cp(want.loop2Type));
  }
  EXPECT_EQ(reg.FirstFreeSlot(), 3);

  fs.files.erase(kObjectsFileName);
  ASSERT_EQ(reg.SaveObject(), 0);
  EXPECT_EQ(fs.files[kObjectsFileName], built);
  EXPECT_TRUE(op.messages.empty());
}

}  // namespace
}  // namespace pelvaron
