#include "objects/object_card.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/fixed_text.h"
#include "support/fakes.h"

namespace pelvaron {
namespace {

using testing::Cp;
using testing::MemoryFileSystem;
using testing::RecordingOperator;

const OperatorMessage kAddressError{"Некорректно набраны цифры адреса!\n(адрес должен быть от 0001 до 9999)",
                                    "Ошибка ввода адреса", MessageIcon::Exclamation};
const OperatorMessage kPeriodError{
    "Некорректно введён период контроля!\n(должно быть, например: 2h или 180m, h - hours, m - minutes )",
    "Ошибка ввода периода контроля", MessageIcon::Exclamation};
const OperatorMessage kDuplicateError{"Данный адрес уже зарегистрирован, измените адрес",
                                      "Ошибка ввода адреса", MessageIcon::Exclamation};

TEST(ObjectAddress, FourDigitsNotAllZero) {
  for (const char* ok : {"0001", "9999", "0100", "1234"}) EXPECT_TRUE(IsValidObjectAddress(ok)) << ok;
  for (const char* bad :
       {"", "1", "001", "0000", "12a4", "12 4", " 123", "12345", "１２３４", "-123", "+123"}) {
    EXPECT_FALSE(IsValidObjectAddress(bad)) << bad;
  }
}

TEST(ControlPeriod, DigitsAndAnHourOrMinuteLetter) {
  const struct {
    const char* text;
    int minutes;
  } good[] = {{"2h", 120}, {"180m", 180}, {"2H", 120},   {"001h", 60}, {"999h", 59940},
              {"1m", 1},   {"5M", 5},     {"999m", 999}, {"01m", 1}};
  for (const auto& c : good) EXPECT_EQ(ParseControlPeriod(c.text), c.minutes) << c.text;
  for (const char* bad : {"", "h", "m", "0h", "00m", "000h", "2", "2 h", "2hm", "1.5h", "2м", "2Х", "h2",
                          "-1h", "1000m", " 2h", "2h "}) {
    EXPECT_EQ(ParseControlPeriod(bad), std::nullopt) << bad;
  }
}

struct Card : ::testing::Test {
  MemoryFileSystem fs;
  RecordingOperator op;
  ObjectRegistry reg{fs, op};
  ObjectCard card;

  void SetUp() override { reg.InitObjects(); }

  void Fill(const std::string& address, const std::string& period, int control = 0) {
    card.m_strAddress = address;
    card.m_strPeriod = period;
    card.m_bControl = control;
  }
  // Registers a new object through the card.
  void Add(const std::string& address, const std::string& period = "2h") {
    card.m_nSlot = -1;
    OpenObjectCard(card, reg.Table());
    Fill(address, period);
    ASSERT_EQ(RegisterObjectCard(card, reg), std::nullopt) << address;
  }
  bool TableIs(const ObjectTable& other) {
    return std::memcmp(reg.Table().data(), other.data(), sizeof other) == 0;
  }
};

TEST_F(Card, OpensEmptyForANewObject) {
  card.m_nSlot = -1;
  card.m_strComment = "left from before";
  card.m_bControl = 1;
  OpenObjectCard(card, reg.Table());
  EXPECT_EQ(card.m_strAddress, "");
  EXPECT_EQ(card.m_strPeriod, "");
  EXPECT_EQ(card.m_strComment, "");
  EXPECT_EQ(card.m_bControl, 0);
  EXPECT_EQ(card.m_strLoop1Type, "Не определён");
  EXPECT_EQ(card.m_strLoop2Type, "Не определён");
  EXPECT_EQ(card.m_strState, "Инициализация нового объекта");
}

TEST_F(Card, RegistersIntoTheFirstFreeSlot) {
  Add("0007");
  card.m_nSlot = -1;
  OpenObjectCard(card, reg.Table());
  Fill("0001", "2h", 1);
  card.m_strComment = "Склад";
  card.m_strLoop1Type = "Дверь";
  card.m_strLoop2Type = std::string(100, 'z');
  reg.Table()[2].byLoopAlarm = 2;  // left as it was
  reg.Table()[2].bAlarm = 1;
  reg.Table()[2].byFlags = 0xFF;
  ASSERT_EQ(RegisterObjectCard(card, reg), std::nullopt);
  const ObjectRecord& r = reg.Table()[2];
  EXPECT_EQ(ReadFixedText(r.szAddress), "0001");
  EXPECT_EQ(r.bUsed, 1);
  EXPECT_EQ(ReadFixedText(r.szComment), Cp("Склад"));
  EXPECT_EQ(r.bControl, 1);
  EXPECT_EQ(r.nPeriod, 120);
  EXPECT_EQ(r.bRegistered, 1);
  EXPECT_EQ(r.bAlarm, 0);
  EXPECT_EQ(r.nState, 0);
  EXPECT_EQ(r.byFlags, 0);
  EXPECT_EQ(r.byLoopAlarm, 2);
  EXPECT_EQ(r.nTimeCounter, 0);
  EXPECT_EQ(ReadFixedText(r.szLoop1Type), Cp("Дверь"));
  EXPECT_EQ(ReadFixedText(r.szLoop2Type), std::string(100, 'z'));
  EXPECT_EQ(card.bNewObjectAdded, 1);
  EXPECT_EQ(reg.FirstFreeSlot(), 3);
  EXPECT_EQ(fs.replaceCount, 1);  // the card never saves; its caller does

  reg.RefreshObjectList();
  EXPECT_EQ(op.refreshes.back()[1], (ObjectListRow{false, " 0001", "+", "2h", "0m", "Склад"}));
}

TEST_F(Card, ControlIsOneOnlyForATickedBox) {
  Add("0001");
  card.m_nSlot = -1;
  Fill("0002", "2h", 5);
  ASSERT_EQ(RegisterObjectCard(card, reg), std::nullopt);
  EXPECT_EQ(reg.Table()[2].bControl, 0);
}

TEST_F(Card, TestsRunInOrderAndTheFirstFailureIsReported) {
  Add("0005");
  const struct {
    const char* address;
    const char* period;
    const char* comment;
    const OperatorMessage* expected;
  } cases[] = {
      {"12a4", "2x", "✓", &kAddressError},                                       // the address first
      {"0000", "2h", "", &kAddressError},   {"0006", "2x", "✓", &kPeriodError},  // then the period
      {"0006", "0h", "", &kPeriodError},    {"0005", "2x", "", &kPeriodError},
      {"0005", "3h", "", &kDuplicateError},  // the duplicate last
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.address) + " " + c.period);
    const ObjectTable before = reg.Table();
    card.m_nSlot = -1;
    Fill(c.address, c.period);
    card.m_strComment = c.comment;
    card.bNewObjectAdded = 7;
    EXPECT_EQ(RegisterObjectCard(card, reg), *c.expected);
    EXPECT_TRUE(TableIs(before));
    EXPECT_EQ(card.bNewObjectAdded, 7);
    EXPECT_EQ(card.m_strAddress, c.address);  // the card keeps what was typed
    EXPECT_EQ(card.m_strPeriod, c.period);
  }
}

TEST_F(Card, TextsWindowsCannotHoldAreRefusedNamingTheField) {
  Add("0001");
  const struct {
    std::string comment, loop1, loop2;
    const char* named;
  } cases[] = {
      {"Пожарный ✓", "", "", "«Краткие комментарии»"},
      {"", "日本", "", "«ШС 1»"},
      {"", "", std::string("a\0b", 3), "«ШС 2»"},
      {"", "", "\xff", "«ШС 2»"},
      {std::string(101, 'x'), "", "", "«Краткие комментарии»"},
      {"", std::string(101, 'x'), "", "«ШС 1»"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.named);
    const ObjectTable before = reg.Table();
    card.m_nSlot = -1;
    Fill("0002", "2h");
    card.m_strComment = c.comment;
    card.m_strLoop1Type = c.loop1;
    card.m_strLoop2Type = c.loop2;
    auto refusal = RegisterObjectCard(card, reg);
    ASSERT_TRUE(refusal.has_value());
    EXPECT_EQ(refusal->title, "Ошибка ввода");
    EXPECT_EQ(refusal->icon, MessageIcon::Exclamation);
    EXPECT_NE(refusal->text.find(c.named), std::string::npos) << refusal->text;
    EXPECT_TRUE(TableIs(before));
  }
  card.m_strComment = "Пожарный ✓";
  card.m_strLoop1Type = card.m_strLoop2Type = "";
  EXPECT_NE(RegisterObjectCard(card, reg)->text.find("«✓»"), std::string::npos);
}

TEST_F(Card, HundredCharacterTextsFillTheirFieldsExactly) {
  Add("0001");
  Add("0002");
  card.m_nSlot = 1;
  OpenObjectCard(card, reg.Table());
  std::string comment;
  for (int i = 0; i < 100; ++i) comment += "ж";
  card.m_strComment = comment;
  card.m_strLoop2Type = comment;
  ASSERT_EQ(RegisterObjectCard(card, reg), std::nullopt);
  const ObjectRecord& r = reg.Table()[1];
  EXPECT_EQ(std::string(r.szComment, 100), std::string(100, '\xE6'));
  EXPECT_EQ(r.bControl, 0);
  EXPECT_EQ(ReadFixedText(reg.Table()[2].szAddress), "0002");
  OpenObjectCard(card, reg.Table());
  EXPECT_EQ(card.m_strComment, comment);
  EXPECT_EQ(card.m_strLoop2Type, comment);
}

TEST_F(Card, EditingOpensFromTheSlotAndMayKeepItsAddress) {
  Add("0001");
  Add("0005");
  ObjectRecord& r = reg.Table()[2];
  r.nPeriod = 180;
  r.bControl = 1;
  card.m_nSlot = 2;
  OpenObjectCard(card, reg.Table());
  EXPECT_EQ(card.m_strAddress, "0005");
  EXPECT_EQ(card.m_strPeriod, "3h");
  EXPECT_EQ(card.m_bControl, 1);
  EXPECT_EQ(card.m_strState, "Состояние объекта - Норма");
  ASSERT_EQ(RegisterObjectCard(card, reg), std::nullopt);
  EXPECT_EQ(r.nPeriod, 180);
  EXPECT_EQ(card.bNewObjectAdded, 0);
  EXPECT_EQ(reg.FirstFreeSlot(), 3);

  card.m_strAddress = "0001";
  EXPECT_EQ(RegisterObjectCard(card, reg), kDuplicateError);
  EXPECT_EQ(card.FindDuplicateAddress(reg.Table(), "0005"), 0);
  EXPECT_EQ(card.FindDuplicateAddress(reg.Table(), "0001"), 1);
  card.m_nSlot = -1;
  EXPECT_EQ(card.FindDuplicateAddress(reg.Table(), "0005"), 1);
}

TEST_F(Card, DuplicateSearchStopsAtTheFirstFreeSlot) {
  Add("0001");
  WriteFixedText(reg.Table()[3].szAddress, "0003");
  reg.Table()[3].bUsed = 1;  // behind the free slot 2
  card.m_nSlot = -1;
  EXPECT_EQ(card.FindDuplicateAddress(reg.Table(), "0003"), 0);
}

TEST_F(Card, StoringAnEditedAlarmedObjectRestartsItsSupervision) {
  Add("0001");
  ObjectRecord& r = reg.Table()[1];
  r.bAlarm = 1;
  r.nState = OBJSTATE_NO_CONTROL;
  r.byFlags = OVERDUE_LOGGED;
  r.nTimeCounter = 130;
  r.byLoopAlarm = 1;
  card.m_nSlot = 1;
  OpenObjectCard(card, reg.Table());
  ASSERT_EQ(RegisterObjectCard(card, reg), std::nullopt);
  EXPECT_EQ(r.bAlarm, 0);
  EXPECT_EQ(r.nState, 0);
  EXPECT_EQ(r.byFlags, 0);
  EXPECT_EQ(r.nTimeCounter, 0);
  EXPECT_EQ(r.byLoopAlarm, 1);
}

TEST_F(Card, StateTextsOnOpening) {
  Add("0001");
  ObjectRecord& r = reg.Table()[1];
  card.m_nSlot = 1;
  const struct {
    int state;
    int loops;
    const char* text;
  } cases[] = {
      {1, 0, "Тревога на объекте - вскрытие корпуса УОО!"},
      {2, 3, "Тревога на объекте - экстренный вызов с объекта!"},
      {4, 0, "Тревога - нарушение охранных шлейфов!"},
      {4, 1, "Тревога - нарушение охранных шлейфов!\r\nТревога по ШС1"},
      {4, 2, "Тревога - нарушение охранных шлейфов!\r\nТревога по ШС2"},
      {4, 3, "Тревога - нарушение охранных шлейфов!\r\nТревога по ШС1\r\nТревога по ШС2"},
      {7, 3, ""},
      {-2, 0, ""},
  };
  for (const auto& c : cases) {
    r.nState = static_cast<std::int16_t>(c.state);
    r.byLoopAlarm = static_cast<std::uint8_t>(c.loops);
    OpenObjectCard(card, reg.Table());
    EXPECT_EQ(card.m_strState, c.text) << c.state << " " << c.loops;
  }
}

TEST_F(Card, DeleteRemovesTheEditedSlotAndDoesNothingOnANewCard) {
  Add("0001");
  Add("0002");
  Add("0003");
  const ObjectTable before = reg.Table();
  card.m_nSlot = -1;
  EXPECT_FALSE(DeleteObjectFromCard(card, reg));
  EXPECT_TRUE(TableIs(before));
  card.m_nSlot = 2;
  EXPECT_TRUE(DeleteObjectFromCard(card, reg));
  EXPECT_EQ(ReadFixedText(reg.Table()[2].szAddress), "0003");
  EXPECT_EQ(reg.FirstFreeSlot(), 3);
  EXPECT_EQ(CardDeleteQuestion(),
            (OperatorMessage{"Вы уверены, что хотите удалить информацию о данном объекте ?",
                             "Подтверждение удаления", MessageIcon::Question}));
}

TEST_F(Card, AFullForeignTableGetsNoWritePastItsEnd) {
  for (int s = 1; s <= 100; ++s) {
    WriteFixedText(reg.Table()[s].szAddress, std::to_string(1000 + s));
    reg.Table()[s].bUsed = 1;
  }
  const ObjectTable before = reg.Table();
  card.m_nSlot = -1;
  Fill("0001", "2h");
  auto refusal = RegisterObjectCard(card, reg);
  ASSERT_TRUE(refusal.has_value());
  EXPECT_EQ(refusal->title, "Ограничение");
  EXPECT_TRUE(TableIs(before));
}

}  // namespace
}  // namespace pelvaron
