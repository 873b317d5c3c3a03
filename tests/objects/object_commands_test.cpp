#include "objects/object_commands.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/fixed_text.h"
#include "support/fakes.h"

namespace pelvaron {
namespace {

using testing::Cp;
using testing::MemoryFileSystem;
using testing::RecordingOperator;

struct Commands : ::testing::Test {
  MemoryFileSystem fs;
  RecordingOperator op;
  ObjectRegistry reg{fs, op};
  ObjectCard card;

  void SetUp() override {
    reg.LoadOrInitObjects();
    reg.RefreshObjectList();
    fs.replaceCount = 0;
    op.refreshes.clear();
  }
  void Add(const std::string& address) {
    ASSERT_TRUE(BeginNewObject(reg, card));
    card.m_strAddress = address;
    card.m_strPeriod = "1h";
    ASSERT_EQ(RegisterObjectCard(card, reg), std::nullopt);
    EndNewObject(reg, card);
  }
  void Use(int slots) {  // fills slots 1..n directly
    for (int s = 1; s <= slots; ++s) {
      WriteFixedText(reg.Table()[s].szAddress, std::to_string(1000 + s));
      reg.Table()[s].bUsed = 1;
    }
  }
  std::vector<std::string> Addresses() {
    std::vector<std::string> out;
    for (const auto& row : op.refreshes.back()) out.push_back(row.address);
    return out;
  }
  std::vector<std::uint8_t> Saved() { return fs.files[kObjectsFileName]; }
  bool SavedIsTable() { return std::memcmp(Saved().data(), reg.Table().data(), sizeof(ObjectTable)) == 0; }
};

TEST_F(Commands, NewObjectOpensTheCardAndSavesTwiceAfterRegistering) {
  card.m_nSlot = 4;
  ASSERT_TRUE(BeginNewObject(reg, card));
  EXPECT_EQ(card.m_nSlot, -1);
  EXPECT_EQ(card.m_strState, "Инициализация нового объекта");
  card.m_strAddress = "0001";
  card.m_strPeriod = "2h";
  ASSERT_EQ(RegisterObjectCard(card, reg), std::nullopt);
  EndNewObject(reg, card);
  EXPECT_EQ(op.refreshes.size(), 1u);
  EXPECT_EQ(fs.replaceCount, 2);
  EXPECT_TRUE(SavedIsTable());

  // A card closed without registering writes nothing.
  ASSERT_TRUE(BeginNewObject(reg, card));
  EndNewObject(reg, card);
  EXPECT_EQ(fs.replaceCount, 2);
  EXPECT_EQ(op.refreshes.size(), 1u);
}

TEST_F(Commands, NinetyEighthObjectIsTheLast) {
  Use(97);
  card.m_nSlot = 3;
  ASSERT_TRUE(BeginNewObject(reg, card));
  card.m_strAddress = "0001";
  card.m_strPeriod = "2h";
  ASSERT_EQ(RegisterObjectCard(card, reg), std::nullopt);
  EndNewObject(reg, card);
  EXPECT_EQ(ReadFixedText(reg.Table()[98].szAddress), "0001");
  EXPECT_TRUE(op.messages.empty());

  card.m_nSlot = 3;
  EXPECT_FALSE(BeginNewObject(reg, card));
  EXPECT_EQ(card.m_nSlot, 3);  // the card is not opened
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0], CapacityMessage());
  for (int used : {99, 100}) {
    Use(used);
    EXPECT_FALSE(BeginNewObject(reg, card)) << used;
  }
}

TEST_F(Commands, ControlResetAndDeleteActOnTheSelectedObjectOnly) {
  for (const char* a : {"0001", "0002", "0003", "0004"}) Add(a);
  ObjectRecord& second = reg.Table()[2];
  second.bAlarm = 1;
  second.nState = OBJSTATE_NO_CONTROL;
  second.nTimeCounter = 75;
  second.byFlags = OVERDUE_LOGGED;
  int saves = fs.replaceCount;

  EXPECT_TRUE(SetControl(reg, 2, true));
  EXPECT_EQ(second.bControl, 1);
  EXPECT_EQ(reg.Table()[1].bControl, 0);
  EXPECT_EQ(op.refreshes.back()[1], (ObjectListRow{true, " 0002", "+", "1h", "1h15m", ""}));
  EXPECT_TRUE(SetControl(reg, 2, false));  // leaves the alarm as it is
  EXPECT_EQ(second.bControl, 0);
  EXPECT_EQ(second.bAlarm, 1);
  EXPECT_EQ(second.nTimeCounter, 75);

  EXPECT_TRUE(ResetCounter(reg, 2));
  EXPECT_EQ(op.refreshes.back()[1], (ObjectListRow{false, " 0002", "-", "1h", "0m", ""}));
  EXPECT_EQ(ObjectStateInfo(reg, 2),
            "  Информация о состоянии объекта с адресом '0002':\r\n\r\n  Состояние объекта - Норма");

  EXPECT_EQ(DeleteObjectQuestion(reg, 2),
            (OperatorMessage{"Вы уверены, что хотите удалить информацию \n об объекте с адресом '0002' ?",
                             "Подтверждение удаления", MessageIcon::Question}));
  EXPECT_TRUE(DeleteObject(reg, 2));
  EXPECT_EQ(Addresses(), (std::vector<std::string>{" 0001", " 0003", " 0004"}));
  EXPECT_EQ(fs.replaceCount, saves + 4);
  EXPECT_TRUE(SavedIsTable());
}

TEST_F(Commands, NoSelectionDoesNothing) {
  Add("0001");
  const auto saves = fs.replaceCount;
  const auto refreshes = op.refreshes.size();
  for (int slot : {0, -1, 2, 101}) {
    EXPECT_FALSE(SetControl(reg, slot, true));
    EXPECT_FALSE(ResetCounter(reg, slot));
    EXPECT_FALSE(DeleteObject(reg, slot));
    EXPECT_FALSE(BeginEditObject(reg, card, slot));
    EXPECT_EQ(ObjectStateInfo(reg, slot), "");
    EXPECT_EQ(DeleteObjectQuestion(reg, slot), OperatorMessage{});
  }
  EXPECT_EQ(reg.Table()[2].bControl, 0);
  EXPECT_EQ(fs.replaceCount, saves);
  EXPECT_EQ(op.refreshes.size(), refreshes);
}

TEST_F(Commands, AllObjectsCommandsStopAtTheFirstFreeSlot) {
  for (const char* a : {"0001", "0002", "0003"}) Add(a);
  reg.Table()[2].bUsed = 0;
  for (int s : {1, 3}) {
    reg.Table()[s].bAlarm = 1;
    reg.Table()[s].nTimeCounter = 9;
  }
  SetControlAll(reg, true);
  EXPECT_EQ(reg.Table()[1].bControl, 1);
  EXPECT_EQ(reg.Table()[3].bControl, 0);
  ResetAllCounters(reg);
  EXPECT_EQ(reg.Table()[1].bAlarm, 0);
  EXPECT_EQ(reg.Table()[3].bAlarm, 1);
  EXPECT_EQ(reg.Table()[3].nTimeCounter, 9);
  SetControlAll(reg, false);
  EXPECT_EQ(reg.Table()[1].bControl, 0);
  EXPECT_TRUE(SavedIsTable());
}

TEST_F(Commands, ClearAllBlanksAndSaves) {
  Add("0001");
  Add("0002");
  EXPECT_EQ(ClearAllObjectsQuestion(),
            (OperatorMessage{"Вы уверены, что хотите удалить информацию обо всех объектах ?",
                             "Подтверждение удаления", MessageIcon::Question}));
  const int saves = fs.replaceCount;
  ClearAllObjects(reg);
  EXPECT_EQ(reg.FirstFreeSlot(), 1);
  EXPECT_TRUE(op.refreshes.back().empty());
  EXPECT_EQ(fs.replaceCount, saves + 2);  // InitObjects, then the refresh
  EXPECT_EQ(ReadFixedText(reg.Table()[1].szLoop1Type), Cp("Не определён"));
}

TEST_F(Commands, EditRefreshesUnlessCancelled) {
  Add("0001");
  Add("0002");
  ASSERT_TRUE(BeginEditObject(reg, card, 2));
  EXPECT_EQ(card.m_nSlot, 2);
  EXPECT_EQ(card.m_strAddress, "0002");
  const int saves = fs.replaceCount;
  EndEditObject(reg, CardResult::Cancel);
  EXPECT_EQ(fs.replaceCount, saves);

  card.m_strPeriod = "90m";
  ASSERT_EQ(RegisterObjectCard(card, reg), std::nullopt);
  EndEditObject(reg, CardResult::Ok);
  EXPECT_EQ(fs.replaceCount, saves + 1);
  EXPECT_EQ(op.refreshes.back()[1].period, "90m");

  ASSERT_TRUE(BeginEditObject(reg, card, 1));
  ASSERT_TRUE(DeleteObjectFromCard(card, reg));
  EndEditObject(reg, CardResult::Ok);
  EXPECT_EQ(Addresses(), (std::vector<std::string>{" 0002"}));
  EXPECT_TRUE(SavedIsTable());
}

TEST_F(Commands, StateInformationText) {
  Add("0001");
  ObjectRecord& r = reg.Table()[1];
  WriteFixedText(r.szLoop1Type, Cp("Окна"));
  WriteFixedText(r.szLoop2Type, std::string(100, 'q'));  // no terminator
  const std::string head = "  Информация о состоянии объекта с адресом '0001':\r\n\r\n  ";
  const struct {
    int state, loops;
    std::string tail;
  } cases[] = {
      {1, 0, "Тревога на объекте - вскрытие корпуса УОО!"},
      {2, 0, "Тревога на объекте - экстренный вызов с объекта!"},
      {3, 3,
       "Тревога на объекте - отсутствие контрольного сообщения от ИО в течение установленного интервала "
       "анализа!"},
      {4, 0, "Тревога - нарушение охранных шлейфов!"},
      {4, 3,
       "Тревога - нарушение охранных шлейфов!\r\nТревога по ШС1, Тип ШС1 : Окна\r\nТревога по ШС2, Тип ШС2 "
       ": " +
           std::string(100, 'q')},
      {4, 2, "Тревога - нарушение охранных шлейфов!\r\nТревога по ШС2, Тип ШС2 : " + std::string(100, 'q')},
      {7, 3, ""},
  };
  const int saves = fs.replaceCount;
  for (const auto& c : cases) {
    r.nState = static_cast<std::int16_t>(c.state);
    r.byLoopAlarm = static_cast<std::uint8_t>(c.loops);
    EXPECT_EQ(ObjectStateInfo(reg, 1), head + c.tail) << c.state << " " << c.loops;
  }
  EXPECT_EQ(fs.replaceCount, saves);  // only shown
}

TEST_F(Commands, StatesFromAFileAreClearedByAnyReset) {
  Add("0001");
  Add("0002");
  for (std::int16_t state : {1, 2, 4}) {
    reg.Table()[1].nState = state;
    reg.Table()[2].nState = state;
    ResetCounter(reg, 1);
    EXPECT_EQ(reg.Table()[1].nState, 0);
    EXPECT_EQ(reg.Table()[2].nState, state);
    ResetAllCounters(reg);
    EXPECT_EQ(reg.Table()[2].nState, 0);
  }
}

TEST_F(Commands, TheFirstOperatorCommandSavesOverAnUnreadableFile) {
  MemoryFileSystem fs2;
  ObjectRegistry reg2(fs2, op);
  fs2.files[kObjectsFileName] = {9, 9};
  fs2.failRead = 13;
  reg2.LoadOrInitObjects();
  reg2.RefreshObjectList();
  EXPECT_FALSE(SetControl(reg2, 1, true));  // nothing selected: still held
  reg2.RefreshObjectList();
  EXPECT_EQ(fs2.replaceCount, 0);
  ResetAllCounters(reg2);
  EXPECT_EQ(fs2.replaceCount, 1);
  EXPECT_EQ(fs2.files[kObjectsFileName].size(), 33936u);
}

}  // namespace
}  // namespace pelvaron
