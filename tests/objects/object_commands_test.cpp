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

  void SetUp() override { reg.LoadOrInitObjects(); }
  void Add(const std::string& address) {
    ASSERT_TRUE(BeginNewObject(reg, card));
    card.m_strAddress = address;
    card.m_strPeriod = "1h";
    ASSERT_EQ(RegisterObjectCard(card, reg), std::nullopt);
    EndNewObject(reg, card);
  }
  void Use(int slots) {
    for (int s = 1; s <= slots; ++s) reg.Table()[s].bUsed = 1;
  }
  std::vector<std::string> Addresses() {
    std::vector<std::string> out;
    for (const auto& row : op.refreshes.back()) out.push_back(row.address);
    return out;
  }
  bool SavedIsTable() {
    return std::memcmp(fs.files[kObjectsFileName].data(), reg.Table().data(), sizeof(ObjectTable)) == 0;
  }
};

TEST_F(Commands, NewObjectIsSavedTwiceAfterTheCardRegisteredIt) {
  card.m_nSlot = 4;
  ASSERT_TRUE(BeginNewObject(reg, card));
  EXPECT_EQ(card.m_nSlot, -1);
  EXPECT_EQ(card.m_strState, "Инициализация нового объекта");
  card.m_strAddress = "0001";
  card.m_strPeriod = "2h";
  ASSERT_EQ(RegisterObjectCard(card, reg), std::nullopt);
  const int saves = fs.replaceCount;
  EndNewObject(reg, card);
  EXPECT_EQ(fs.replaceCount, saves + 2);
  EXPECT_EQ(Addresses(), (std::vector<std::string>{" 0001"}));
  EXPECT_TRUE(SavedIsTable());

  ASSERT_TRUE(BeginNewObject(reg, card));  // closed without registering
  EndNewObject(reg, card);
  EXPECT_EQ(fs.replaceCount, saves + 2);
}

TEST_F(Commands, NinetyEightObjectsAtMost) {
  Use(97);
  Add("0001");
  EXPECT_EQ(ReadFixedText(reg.Table()[98].szAddress), "0001");
  card.m_nSlot = 3;
  for (int used : {98, 99, 100}) {
    Use(used);
    EXPECT_FALSE(BeginNewObject(reg, card)) << used;
  }
  EXPECT_EQ(card.m_nSlot, 3);  // the card is not opened
  const OperatorMessage refusal{
      "В данной версии программы допустимое количество объектов\n ограничено числом 100", "Ограничение",
      MessageIcon::Exclamation};
  EXPECT_EQ(op.messages, (std::vector<OperatorMessage>(3, refusal)));
}

TEST_F(Commands, CommandsOnTheSelectedObject) {
  for (const char* a : {"0001", "0002", "0003", "0004"}) Add(a);
  ObjectRecord& second = reg.Table()[2];
  second.bAlarm = 1;
  second.nState = OBJSTATE_NO_CONTROL;
  second.nTimeCounter = 75;
  const int saves = fs.replaceCount;

  EXPECT_TRUE(SetControl(reg, 2, true));
  EXPECT_EQ(op.refreshes.back()[1], (ObjectListRow{true, " 0002", "+", "1h", "1h15m", ""}));
  EXPECT_TRUE(SetControl(reg, 2, false));  // leaves the alarm as it is
  EXPECT_EQ(op.refreshes.back()[1], (ObjectListRow{true, " 0002", "-", "1h", "1h15m", ""}));
  EXPECT_EQ(reg.Table()[1].bControl, 0);

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

  const ObjectTable before = reg.Table();
  for (int none : {0, -1, 4, 101}) {  // no selection, or a row that is gone
    EXPECT_FALSE(SetControl(reg, none, true));
    EXPECT_FALSE(ResetCounter(reg, none));
    EXPECT_FALSE(DeleteObject(reg, none));
    EXPECT_FALSE(BeginEditObject(reg, card, none));
    EXPECT_EQ(ObjectStateInfo(reg, none), "");
  }
  EXPECT_EQ(std::memcmp(reg.Table().data(), before.data(), sizeof before), 0);
  EXPECT_EQ(fs.replaceCount, saves + 4);
}

TEST_F(Commands, AllObjectsCommandsStopAtTheFirstFreeSlot) {
  for (const char* a : {"0001", "0002", "0003"}) Add(a);
  reg.Table()[2].bUsed = 0;
  for (int s : {1, 3}) reg.Table()[s].nState = OBJSTATE_EMERGENCY;
  SetControlAll(reg, true);
  ResetAllCounters(reg);
  EXPECT_EQ(reg.Table()[1].bControl, 1);
  EXPECT_EQ(reg.Table()[1].nState, 0);
  EXPECT_EQ(reg.Table()[3].bControl, 0);
  EXPECT_EQ(reg.Table()[3].nState, OBJSTATE_EMERGENCY);
  SetControlAll(reg, false);
  EXPECT_EQ(reg.Table()[1].bControl, 0);
  EXPECT_TRUE(SavedIsTable());
}

TEST_F(Commands, ClearAllBlanksAndSavesTwice) {
  Add("0001");
  EXPECT_EQ(ClearAllObjectsQuestion(),
            (OperatorMessage{"Вы уверены, что хотите удалить информацию обо всех объектах ?",
                             "Подтверждение удаления", MessageIcon::Question}));
  const int saves = fs.replaceCount;
  ClearAllObjects(reg);
  EXPECT_TRUE(op.refreshes.back().empty());
  EXPECT_EQ(fs.replaceCount, saves + 2);
  EXPECT_EQ(ReadFixedText(reg.Table()[1].szLoop1Type), Cp("Не определён"));
}

TEST_F(Commands, EditRefreshesUnlessCancelled) {
  Add("0001");
  Add("0002");
  ASSERT_TRUE(BeginEditObject(reg, card, 2));
  EXPECT_EQ(card.m_strAddress, "0002");
  const int saves = fs.replaceCount;
  EndEditObject(reg, CardResult::Cancel);
  EXPECT_EQ(fs.replaceCount, saves);
  card.m_strPeriod = "90m";
  ASSERT_EQ(RegisterObjectCard(card, reg), std::nullopt);
  EndEditObject(reg, CardResult::Ok);
  EXPECT_EQ(op.refreshes.back()[1].period, "90m");
  ASSERT_TRUE(BeginEditObject(reg, card, 1));
  ASSERT_TRUE(DeleteObjectFromCard(card, reg));
  EndEditObject(reg, CardResult::Ok);
  EXPECT_EQ(Addresses(), (std::vector<std::string>{" 0002"}));
  EXPECT_EQ(fs.replaceCount, saves + 2);
}

TEST_F(Commands, StateInformationNamesTheAlarmedLoops) {
  Add("0001");
  ObjectRecord& r = reg.Table()[1];
  WriteFixedText(r.szLoop1Type, Cp("Окна"));
  WriteFixedText(r.szLoop2Type, std::string(100, 'q'));  // no terminator
  const std::string head = "  Информация о состоянии объекта с адресом '0001':\r\n\r\n  ";
  const std::string loops = "Тревога - нарушение охранных шлейфов!";
  const struct {
    int state, bits;
    std::string tail;
  } cases[] = {
      {1, 3, "Тревога на объекте - вскрытие корпуса УОО!"},
      {4, 0, loops},
      {4, 1, loops + "\r\nТревога по ШС1, Тип ШС1 : Окна"},
      {4, 3,
       loops + "\r\nТревога по ШС1, Тип ШС1 : Окна\r\nТревога по ШС2, Тип ШС2 : " + std::string(100, 'q')},
      {7, 3, ""},
  };
  for (const auto& c : cases) {
    r.nState = static_cast<std::int16_t>(c.state);
    r.byLoopAlarm = static_cast<std::uint8_t>(c.bits);
    EXPECT_EQ(ObjectStateInfo(reg, 1), head + c.tail) << c.state << " " << c.bits;
  }
}

TEST_F(Commands, TheFirstCommandKeepsAnUnreadableFileBesideBeforeSaving) {
  MemoryFileSystem fs2;
  ObjectRegistry reg2(fs2, op);
  fs2.files[kObjectsFileName] = {9, 9};
  fs2.files["objects.stt.unreadable"] = {7};  // from an earlier run: kept too
  fs2.failRead = 13;
  reg2.LoadOrInitObjects();
  reg2.RefreshObjectList();
  EXPECT_FALSE(SetControl(reg2, 1, true));  // nothing selected: nothing changes
  EXPECT_EQ(fs2.replaceCount, 0);
  op.messages.clear();
  ResetAllCounters(reg2);
  EXPECT_EQ(fs2.replaceCount, 1);
  EXPECT_EQ(fs2.files[kObjectsFileName].size(), 33936u);
  EXPECT_EQ(fs2.files["objects.stt.unreadable.1"], (std::vector<std::uint8_t>{9, 9}));
  EXPECT_EQ(fs2.files["objects.stt.unreadable"], (std::vector<std::uint8_t>{7}));
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_NE(op.messages[0].text.find("objects.stt.unreadable.1"), std::string::npos);
}

// A file of another size is no image of the table: told naming it, read as
// far as it goes, and never saved over until the first command moves it beside.
TEST_F(Commands, AnObjectsFileOfAnotherSizeIsToldAndKeptBesideAtTheFirstCommand) {
  std::vector<std::uint8_t> shorter(336 + 12, 0);  // one object, cut after its bUsed
  std::memcpy(&shorter[336], "0001", 5);
  shorter[336 + 8] = 1;
  const std::pair<std::vector<std::uint8_t>, std::string> cases[] = {
      {shorter,
       "objects.stt имеет неверный размер: 348 байт вместо 33936. Прочитано его начало (объектов: 1)."},
      {std::vector<std::uint8_t>(40000, 0),
       "размер: больше 33936 байт. Прочитаны первые 33936 байт (объектов: 0)."},
  };
  for (const auto& [file, told] : cases) {
    MemoryFileSystem fs2;
    ObjectRegistry reg2(fs2, op);
    op.messages.clear();
    fs2.files[kObjectsFileName] = file;
    reg2.LoadOrInitObjects();
    reg2.RefreshObjectList();
    EXPECT_EQ(fs2.replaceCount, 0);
    ResetAllCounters(reg2);
    EXPECT_EQ(fs2.files["objects.stt.unreadable"], file);
    EXPECT_EQ(fs2.files[kObjectsFileName].size(), 33936u);
    ASSERT_EQ(op.messages.size(), 2u);
    EXPECT_NE(op.messages[0].text.find(told), std::string::npos) << op.messages[0].text;
    EXPECT_EQ(op.messages[1].text.rfind(
                  "Файл объектов objects.stt имел при запуске неверный размер. Он сохранён", 0),
              0u);
  }
}

TEST_F(Commands, AnUnreadableFileThatCannotBeMovedIsNeverSavedOver) {
  MemoryFileSystem fs2;
  ObjectRegistry reg2(fs2, op);
  fs2.files[kObjectsFileName] = {9, 9};
  fs2.failRead = 13;
  fs2.failRename = 13;
  reg2.LoadOrInitObjects();
  ResetAllCounters(reg2);
  SetControlAll(reg2, true);
  EXPECT_EQ(fs2.replaceCount, 0);
  EXPECT_EQ(fs2.files[kObjectsFileName], (std::vector<std::uint8_t>{9, 9}));
}

}  // namespace
}  // namespace pelvaron
