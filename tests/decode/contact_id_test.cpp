#include "decode/contact_id.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "core/cp1251.h"
#include "protocol/event_protocol.h"

namespace pelvaron {
namespace {

constexpr char kUnknownNew[] = "Нераспознанное сообщение";
constexpr char kUnknownRestore[] = "Нераспознанное сообщение : восстановление";

TEST(ContactIdEventText, NewAndRestoreTextsOfARow) {
  EXPECT_EQ(ContactIdEventText(130, 1), "Охранная тревога");
  EXPECT_EQ(ContactIdEventText(130, 0), "Восстановление охранной тревоги");
  // Any nonzero qualifier is a new event, as the frame's bit 0x20 would be.
  EXPECT_EQ(ContactIdEventText(130, 0x20), "Охранная тревога");
}

TEST(ContactIdEventText, PeriodicTestReadsTheSameBothWays) {
  EXPECT_EQ(ContactIdEventText(602, 1), "Периодический тест");
  EXPECT_EQ(ContactIdEventText(602, 0), "Периодический тест");
}

TEST(ContactIdEventText, CodesWithoutARowGetTheFallback) {
  // 113 lies between two rows; 10 is digits 0 1 0; the rest are out of range.
  for (int code : {113, 0, 10, 999, -1, 1000, 1130}) {
    SCOPED_TRACE(code);
    EXPECT_EQ(ContactIdEventText(code, 1), kUnknownNew);
    EXPECT_EQ(ContactIdEventText(code, 0), kUnknownRestore);
  }
}

TEST(ContactIdEventText, SirenCodesShareTheirTexts) {
  EXPECT_EQ(ContactIdEventText(323, 1), ContactIdEventText(320, 1));
  EXPECT_EQ(ContactIdEventText(323, 0), ContactIdEventText(320, 0));
  EXPECT_EQ(ContactIdEventText(320, 1), "Неисправность сирены/ реле");
  EXPECT_EQ(ContactIdEventText(320, 0), "Восстановление неисправности сирены/реле");
}

TEST(ContactIdEventText, OwnSpellingsAreKept) {
  EXPECT_EQ(ContactIdEventText(382, 0), "Восстановление свяхи с радиорасширителем");
  EXPECT_EQ(ContactIdEventText(135, 1), "Неисправность Днём/ Тревога ночью");
  EXPECT_EQ(ContactIdEventText(134, 1), "Охранная тревога на Входе/Выходе");
  EXPECT_EQ(ContactIdEventText(134, 0), "Восстановление тревоги на входе/выходе");
}

TEST(ContactIdEventText, DisarmIsTheNewEventAndArmTheRestore) {
  for (int code : {121, 400, 401, 402, 403}) {
    SCOPED_TRACE(code);
    EXPECT_EQ(ContactIdEventText(code, 1).rfind("Снятие", 0), 0u);
    EXPECT_EQ(ContactIdEventText(code, 0).rfind("Взятие", 0), 0u);
  }
  EXPECT_EQ(ContactIdEventText(308, 0), "Включение системы");
}

// Checks over the whole code range rather than a copy of the table.
TEST(ContactIdEventText, WholeRange) {
  int rows = 0;
  std::size_t longest = 0;
  for (int code = 0; code <= 999; ++code) {
    for (int newEvent : {0, 1}) {
      std::string text(ContactIdEventText(code, newEvent));
      ASSERT_TRUE(FitsCp1251(text)) << code;
      longest = std::max(longest, Utf8Length(text));
      // The decoder writes it in brackets as one plain line.
      EXPECT_LE(Utf8Length(text) + 2, kMaxPlainText) << code;
    }
    bool known = ContactIdEventText(code, 1) != kUnknownNew;
    EXPECT_EQ(known, ContactIdEventText(code, 0) != kUnknownRestore) << code;
    rows += known ? 1 : 0;
  }
  EXPECT_EQ(rows, 47);
  EXPECT_EQ(longest, 50u);
  EXPECT_EQ(Utf8Length(ContactIdEventText(143, 0)), 50u);
}

}  // namespace
}  // namespace pelvaron
