#include "events/event.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <string>
#include <vector>

#include "events/event_sequence.h"
#include "support/fakes.h"

namespace pelvaron {
namespace {

using testing::Hex;
using testing::MemoryFileSystem;

TEST(EventSequenceTest, NumbersGoOnAcrossRestartsAndTheFileIsWrittenOncePerBlock) {
  MemoryFileSystem fs;
  std::vector<std::uint64_t> seen;
  {
    EventSequence seq(fs);
    ASSERT_EQ(seq.Load(), 0);
    for (int i = 0; i < 1500; ++i) seen.push_back(seq.Next());
  }
  EXPECT_EQ(seen.front(), 1u);
  EXPECT_EQ(seen.back(), 1500u);
  EXPECT_EQ(fs.replaceCount, 2);
  EXPECT_EQ(fs.Text(kEventSequenceFileName), "2001\n");
  // A restart (or a kill) goes on behind the reservation: numbers may be
  // skipped, never given twice.
  EventSequence again(fs);
  ASSERT_EQ(again.Load(), 0);
  EXPECT_EQ(again.Next(), 2001u);
  EXPECT_EQ(fs.Text(kEventSequenceFileName), "3001\n");
}

TEST(EventSequenceTest, AFileThatCannotBeWrittenDoesNotStopTheNumbers) {
  MemoryFileSystem fs;
  EventSequence seq(fs);
  ASSERT_EQ(seq.Load(), 0);
  fs.failReplace = 28;
  EXPECT_EQ(seq.Next(), 1u);
  EXPECT_EQ(seq.Next(), 2u);
  EXPECT_EQ(seq.LastError(), 28);
  fs.failReplace = 0;
  EXPECT_EQ(seq.Next(), 3u);
  EXPECT_EQ(seq.LastError(), 0);
  EXPECT_EQ(fs.Text(kEventSequenceFileName), "1003\n");
}

// A damaged file (no number, or one the store could not hold) is reported;
// numbering goes on above what the store holds and never wraps.
TEST(EventSequenceTest, ADamagedFileIsReportedAndNumberingGoesOnAboveTheStore) {
  const struct {
    std::string file;
    int error;
    std::uint64_t stored, next;
  } cases[] = {
      {"xy", EINVAL, 0, 1},
      {"18446744073709551615", ERANGE, 41, 42},
      {"99999999999999999999", ERANGE, 41, 42},
      {"2001", 0, 41, 2001},
      {"2001", 0, 5000, 5001},  // an old copy behind the store
  };
  for (const auto& c : cases) {
    MemoryFileSystem fs;
    fs.files[kEventSequenceFileName] = std::vector<std::uint8_t>(c.file.begin(), c.file.end());
    EventSequence seq(fs);
    EXPECT_EQ(seq.Load(), c.error) << c.file;
    seq.ContinueAbove(c.stored);
    EXPECT_EQ(seq.Next(), c.next) << c.file;
  }
}

TEST(EventTest, KindNamesAreDistinctAndStable) {
  std::set<std::string_view> names;
  for (EventKind kind : AllEventKinds()) EXPECT_TRUE(names.insert(EventKindName(kind)).second);
  EXPECT_EQ(names.size(), AllEventKinds().size());
  EXPECT_EQ(EventKindName(EventKind::Message), "message");
  EXPECT_EQ(EventKindName(EventKind::ObjectOverdue), "object-overdue");
}

TEST(EventTest, TheTextOfAMessageIsItsEventLine) {
  struct Case {
    const char* frame;
    const char* text;
  } cases[] = {
      {"12 34 1F 01 13 00 01 00 00 7A", "Восстановление охранной тревоги"},
      {"00 12 0A 20 00 10 00 00 00 4C", "Контрольное извещение от охранника N 1"},
      {"00 2A 16 06 21 00 00 00 00 67", "Корпус Тамсир вскрыт"},
      {"12 34 11 01 10 85 01 31 01 1F", "Охранная тревога"},
      {"12 34 17 07 00 00 00 00 00 64", "Неизвестный, тип:7"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MessageText(DecodeMessage(Hex(c.frame).data())), c.text) << c.frame;
  }
}

TEST(EventTest, LocalTimeCarriesItsOffset) {
  std::tm tm{};
  tm.tm_year = 126;
  tm.tm_mon = 11;
  tm.tm_mday = 7;
  tm.tm_hour = 10;
  tm.tm_min = 22;
  tm.tm_sec = 5;
  tm.tm_gmtoff = 3 * 3600;
  EXPECT_EQ(IsoLocalTime(tm), "2026-12-07T10:22:05+03:00");
  tm.tm_gmtoff = -(9 * 3600 + 30 * 60);
  EXPECT_EQ(IsoLocalTime(tm), "2026-12-07T10:22:05-09:30");
}

}  // namespace
}  // namespace pelvaron
