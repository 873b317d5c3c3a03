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

TEST(CardInput, AddressAndPeriod) {
  for (const char* ok : {"0001", "9999", "0100"}) EXPECT_TRUE(IsValidObjectAddress(ok)) << ok;
  for (const char* bad : {"", "1", "001", "0000", "12a4", "12 4", "12345", "１２３４", "+123"}) {
    EXPECT_FALSE(IsValidObjectAddress(bad)) << bad;
  }
  const std::pair<const char*, int> good[] = {{"2h", 120},     {"180m", 180}, {"2H", 120}, {"001h", 60},
                                              {"999h", 59940}, {"1m", 1},     {"5M", 5}};
  for (auto [text, minutes] : good) EXPECT_EQ(ParseControlPeriod(text), minutes) << text;
  for (const char* bad : {"", "h", "0h", "00m", "2", "2 h", "2hm", "1.5h", "2м", "-1h", "1000m", " 2h"}) {
    EXPECT_EQ(ParseControlPeriod(bad), std::nullopt) << bad;
  }
}

struct Card : ::testing::Test {
  MemoryFileSystem fs;
  RecordingOperator op;
  ObjectRegistry reg{fs, op};
  ObjectCard card;

  void SetUp() override { reg.InitObjects(); }
  std::optional<OperatorMessage> Register(int slot, const std::string& address, const std::string& period) {
    card.m_nSlot = slot;
    OpenObjectCard(card, reg.Table());
    card.m_strAddress = address;
    card.m_strPeriod = period;
    return RegisterObjectCard(card, reg);
  }
  void Add(const std::string& address) { ASSERT_EQ(Register(-1, address, "2h"), std::nullopt) << address; }
  bool Unchanged(const ObjectTable& before) {
    return std::memcmp(reg.Table().data(), before.data(), sizeof before) == 0;
  }
};

TEST_F(Card, NewObjectOpensEmptyAndGoesToTheFirstFreeSlot) {
  Add("0007");
  card.m_nSlot = -1;
  OpenObjectCard(card, reg.Table());
  EXPECT_EQ(card.m_strAddress + card.m_strPeriod + card.m_strComment, "");
  EXPECT_EQ(card.m_bControl, 0);
  EXPECT_EQ(card.m_strLoop1Type, "Не определён");
  EXPECT_EQ(card.m_strLoop2Type, "Не определён");
  EXPECT_EQ(card.m_strState, "Инициализация нового объекта");

  card.m_strAddress = "0001";
  card.m_strPeriod = "2h";
  card.m_bControl = 1;
  card.m_strComment = "Склад";
  card.m_strLoop1Type = "Дверь";
  ObjectRecord& r = reg.Table()[2];
  r.byLoopAlarm = 2;  // left as it was
  r.bAlarm = 1;
  r.byFlags = 0xFF;
  ASSERT_EQ(RegisterObjectCard(card, reg), std::nullopt);
  EXPECT_EQ(ReadFixedText(r.szAddress), "0001");
  EXPECT_EQ(ReadFixedText(r.szComment), Cp("Склад"));
  EXPECT_EQ(ReadFixedText(r.szLoop1Type), Cp("Дверь"));
  EXPECT_EQ(ReadFixedText(r.szLoop2Type), Cp("Не определён"));
  EXPECT_EQ((std::vector<int>{r.bUsed, r.bControl, r.nPeriod, r.bRegistered, r.bAlarm, r.nState, r.byFlags,
                              r.byLoopAlarm, r.nTimeCounter}),
            (std::vector<int>{1, 1, 120, 1, 0, 0, 0, 2, 0}));
  EXPECT_EQ(card.bNewObjectAdded, 1);
  EXPECT_EQ(fs.replaceCount, 1);  // the card never saves; its caller does

  card.m_bControl = 5;  // only a ticked box is control on
  ASSERT_EQ(Register(-1, "0003", "1h"), std::nullopt);
  EXPECT_EQ(reg.Table()[3].bControl, 0);
}

TEST_F(Card, TestsRunInOrderAndOnlyTheFirstFailureIsReported) {
  Add("0005");
  const struct {
    const char* address;
    const char* period;
    const char* comment;
    OperatorMessage expected;
  } cases[] = {
      {"12a4", "2x", "✓", kAddressError},
      {"0006", "2x", "✓", kPeriodError},
      {"0005", "2x", "", kPeriodError},
      {"0005", "3h", "", kDuplicateError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    const ObjectTable before = reg.Table();
    card.m_strComment = c.comment;
    card.bNewObjectAdded = 7;
    card.m_nSlot = -1;
    card.m_strAddress = c.address;
    card.m_strPeriod = c.period;
    EXPECT_EQ(RegisterObjectCard(card, reg), c.expected);
    EXPECT_TRUE(Unchanged(before));
    EXPECT_EQ(card.bNewObjectAdded, 7);
    EXPECT_EQ(card.m_strAddress + card.m_strPeriod, std::string(c.address) + c.period);  // kept as typed
  }
}

TEST_F(Card, TextsTheFileCannotHoldAreRefusedNamingTheField) {
  const struct {
    std::string comment, loop1, loop2, named;
  } cases[] = {
      {"Пожарный ✓", "", "", "поле «Краткие комментарии» содержит символ «✓»"},
      {"", "日本", "", "«ШС 1»"},
      {"", "", std::string("a\0b", 3), "«ШС 2» содержит нулевой символ"},
      {"", "", "\xff", "«ШС 2»"},
      {std::string(101, 'x'), "", "", "«Краткие комментарии» длиннее 100 символов"},
      // A line end would forge a stamped protocol line; the rest steer terminals.
      {"Склад\r\n06:12:2026, 08:47:42  Выключение программы", "", "",
       "«Краткие комментарии» содержит управляющий символ <CR> (возврат каретки)"},
      {"", "ШС\x1b[2J", "", "«ШС 1» содержит управляющий символ <ESC>"},
      {"", "", "\xc2\x85", "«ШС 2» содержит управляющий символ <U+0085>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.named);
    const ObjectTable before = reg.Table();
    card.m_nSlot = -1;
    card.m_strAddress = "0002";
    card.m_strPeriod = "2h";
    card.m_strComment = c.comment;
    card.m_strLoop1Type = c.loop1;
    card.m_strLoop2Type = c.loop2;
    auto refusal = RegisterObjectCard(card, reg);
    ASSERT_TRUE(refusal.has_value());
    EXPECT_EQ(refusal->title, "Ошибка ввода");
    EXPECT_EQ(refusal->icon, MessageIcon::Exclamation);
    EXPECT_NE(refusal->text.find(c.named), std::string::npos) << refusal->text;
    EXPECT_TRUE(Unchanged(before));
  }
}

// A file another program wrote may hold any byte: what is shown marks the
// control characters, and the stored bytes stay until the operator edits the object.
TEST_F(Card, AForeignFilesControlCharactersShowAsMarksAndStayInTheFile) {
  Add("0001");
  ObjectRecord& r = reg.Table()[1];
  WriteFixedText(r.szComment, Cp("Склад\r\n01:01:2026, 00:00:00  Выключение программы\x1b"));
  WriteFixedText(r.szAddress, "00\n1");
  reg.RefreshObjectList();
  const ObjectListRow& row = op.refreshes.back().at(0);
  EXPECT_EQ(row.comment, "Склад<CR><LF>01:01:2026, 00:00:00  Выключение программы<ESC>");
  EXPECT_EQ(row.address, " 00<LF>1");
  EXPECT_EQ(reg.AddressOf(1), "00<LF>1");
  const std::vector<std::uint8_t>& file = fs.files.at(kObjectsFileName);
  EXPECT_EQ(std::string(file.begin() + 336, file.begin() + 341), std::string("00\n1\0", 5));
}

TEST_F(Card, HundredCharacterTextsFillTheirFieldsWithoutTerminator) {
  Add("0001");
  Add("0002");
  std::string text;
  for (int i = 0; i < 100; ++i) text += "ж";
  card.m_nSlot = 1;
  OpenObjectCard(card, reg.Table());
  card.m_strComment = card.m_strLoop2Type = text;
  ASSERT_EQ(RegisterObjectCard(card, reg), std::nullopt);
  EXPECT_EQ(std::string(reg.Table()[1].szComment, 100), std::string(100, '\xE6'));
  EXPECT_EQ(reg.Table()[1].bControl, 0);
  EXPECT_EQ(ReadFixedText(reg.Table()[2].szAddress), "0002");
  OpenObjectCard(card, reg.Table());
  EXPECT_EQ(card.m_strComment, text);
  EXPECT_EQ(card.m_strLoop2Type, text);
}

TEST_F(Card, EditingKeepsItsOwnAddressAndRestartsSupervision) {
  Add("0001");
  Add("0005");
  WriteFixedText(reg.Table()[4].szAddress, "0009");
  reg.Table()[4].bUsed = 1;  // behind the free slot 3: never looked at
  ObjectRecord& r = reg.Table()[2];
  r.nPeriod = 180;
  r.bControl = 1;
  r.bAlarm = 1;
  r.nState = OBJSTATE_NO_CONTROL;
  r.byFlags = OVERDUE_LOGGED;
  r.nTimeCounter = 130;
  r.byLoopAlarm = 1;
  card.m_nSlot = 2;
  OpenObjectCard(card, reg.Table());
  EXPECT_EQ(card.m_strAddress, "0005");
  EXPECT_EQ(card.m_strPeriod, "3h");
  EXPECT_EQ(card.m_bControl, 1);
  ASSERT_EQ(RegisterObjectCard(card, reg), std::nullopt);
  EXPECT_EQ((std::vector<int>{r.nPeriod, r.bAlarm, r.nState, r.byFlags, r.nTimeCounter, r.byLoopAlarm}),
            (std::vector<int>{180, 0, 0, 0, 0, 1}));
  EXPECT_EQ(card.bNewObjectAdded, 0);
  EXPECT_EQ(reg.FirstFreeSlot(), 3);

  card.m_strAddress = "0001";
  EXPECT_EQ(RegisterObjectCard(card, reg), kDuplicateError);
  EXPECT_EQ(card.FindDuplicateAddress(reg.Table(), "0009"), 0);
  card.m_nSlot = -1;
  EXPECT_EQ(card.FindDuplicateAddress(reg.Table(), "0005"), 1);
}

// A stored address runs to its zero or fills all eight bytes of its field.
TEST_F(Card, DuplicatesCompareTheWholeStoredAddress) {
  Add("0001");
  Add("0002");
  std::memcpy(reg.Table()[1].szAddress, "12345678", 8);  // a foreign file's: no zero
  const char behindZero[8] = {'0', '0', '0', '2', '\0', '9', '9', '9'};
  std::memcpy(reg.Table()[2].szAddress, behindZero, 8);
  card.m_nSlot = -1;
  EXPECT_EQ(card.FindDuplicateAddress(reg.Table(), "12345678"), 1);
  EXPECT_EQ(card.FindDuplicateAddress(reg.Table(), "1234567"), 0);
  EXPECT_EQ(card.FindDuplicateAddress(reg.Table(), "0002"), 1);
  EXPECT_EQ(card.FindDuplicateAddress(reg.Table(), "0002999"), 0);
  card.m_nSlot = 1;
  EXPECT_EQ(card.FindDuplicateAddress(reg.Table(), "12345678"), 0);
}

TEST_F(Card, StateTextOnOpening) {
  Add("0001");
  ObjectRecord& r = reg.Table()[1];
  card.m_nSlot = 1;
  const struct {
    int state, loops;
    const char* text;
  } cases[] = {
      {0, 3, "Состояние объекта - Норма"},
      {1, 0, "Тревога на объекте - вскрытие корпуса УОО!"},
      {2, 3, "Тревога на объекте - экстренный вызов с объекта!"},
      {3, 3,
       "Тревога на объекте - отсутствие контрольного сообщения от ИО в течение установленного интервала "
       "анализа!"},
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
  EXPECT_TRUE(Unchanged(before));
  card.m_nSlot = 2;
  EXPECT_TRUE(DeleteObjectFromCard(card, reg));
  EXPECT_EQ(ReadFixedText(reg.Table()[2].szAddress), "0003");
  EXPECT_EQ(CardDeleteQuestion(),
            (OperatorMessage{"Вы уверены, что хотите удалить информацию о данном объекте ?",
                             "Подтверждение удаления", MessageIcon::Question}));
}

TEST_F(Card, AFullForeignTableGetsNoWritePastItsEnd) {
  for (int s = 1; s <= 100; ++s) reg.Table()[s].bUsed = 1;
  const ObjectTable before = reg.Table();
  auto refusal = Register(-1, "0001", "2h");
  ASSERT_TRUE(refusal.has_value());
  EXPECT_EQ(refusal->title, "Ограничение");
  EXPECT_TRUE(Unchanged(before));
}

}  // namespace
}  // namespace pelvaron
