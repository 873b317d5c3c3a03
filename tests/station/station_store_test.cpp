#include <gtest/gtest.h>
#include <sodium.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "station/station_schema.h"
#include "station_folder.h"

namespace pelvaron {
namespace {

class StationStoreTest : public testing::StationFolder {
 protected:
  void SetUp() override {
    StationFolder::SetUp();
    Result<> opened = store.Open(path, StationStore::Mode::ReadWrite);
    ASSERT_TRUE(opened) << opened.problem().Told();
  }
  // Every byte the store keeps on disk.
  std::string FileBytes() {
    std::string all;
    for (const char* suffix : {"", "-wal"}) {
      std::stringstream bytes;
      bytes << std::ifstream(path + suffix, std::ios::binary).rdbuf();
      all += bytes.str();
    }
    return all;
  }
  // The first value of SQL run on the file beside the store; "error" when it fails.
  std::string Query(const std::string& sql) {
    sqlite3* db = nullptr;
    std::string value;
    auto first = [](void* out, int, char** values, char**) {
      *static_cast<std::string*>(out) = values[0] != nullptr ? values[0] : "";
      return 0;
    };
    int rc = sqlite3_open(path.c_str(), &db);
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, sql.c_str(), first, &value, nullptr);
    sqlite3_close(db);
    return rc == SQLITE_OK ? value : "error";
  }

  StationStore store;
};

ResponsePlan Plan(std::string address, std::string priority, std::string instructions) {
  return ResponsePlan{std::move(address), std::move(priority), std::move(instructions), {{"Иванов", "", {"112"}}},
                      "ГБР-1", "+7 (812) 555-00-01"};
}

TEST_F(StationStoreTest, AnObjectWithoutItsOwnPlanGetsItsPriorityDefault) {
  ASSERT_TRUE(store.ReplaceAllPlans({Plan("0012", "", "свой"), Plan("", "fire", "пожар"), Plan("", "panic", "нападение")}));
  const struct {
    std::string address, priority;
    std::optional<std::string> instructions;
  } cases[] = {
      {"0012", "fire", "свой"},     {"0013", "fire", "пожар"}, {"0013", "panic", "нападение"},
      {"0013", "burglary", {}},     {"0013", "", {}},          {"0012", "", "свой"},
      {"12", "burglary", {}},  // addresses are compared as the log shows them
  };
  for (const auto& c : cases) {
    Result<std::optional<ResponsePlan>> found = store.PlanFor(c.address, c.priority);
    ASSERT_TRUE(found) << found.problem().Told();
    EXPECT_EQ(*found ? std::optional((*found)->instructions) : std::nullopt, c.instructions)
        << c.address << " " << c.priority;
  }
  // A plan saved again replaces the one of its address; a deleted one is gone.
  ASSERT_TRUE(store.SavePlan(Plan("0012", "", "новый")));
  ASSERT_TRUE(store.DeletePlan("", "fire"));
  EXPECT_EQ((*store.PlanFor("0012", "fire"))->instructions, "новый");
  EXPECT_FALSE(*store.PlanFor("0013", "fire"));
  EXPECT_EQ(PlansIn(store).size(), 2u);
}

TEST_F(StationStoreTest, WhatAStationTypesIsCheckedAndARefusedPlanChangesNothing) {
  ASSERT_TRUE(store.SavePlan(Plan("0012", "", "старый")));
  auto with = [](auto change) {
    ResponsePlan p = Plan("0012", "", "новый");
    change(p);
    return p;
  };
  const struct {
    ResponsePlan plan;
    std::string told;
  } refused[] = {
      {with([](ResponsePlan& p) { p.keyHolders[0].phones = {"8 (812) 555-01-02 позвонить"}; }), "содержит «п»"},
      {with([](ResponsePlan& p) { p.keyHolders[0].phones = {"+-()"}; }), "ни одной цифры"},
      {with([](ResponsePlan& p) { p.keyHolders[0].phones = {}; }), "нет ни одного телефона"},
      {with([](ResponsePlan& p) { p.keyHolders[0].name = "Иванов\nВыключение программы"; }), "<LF>"},
      {with([](ResponsePlan& p) { p.keyHolders[0].name = ""; }), "не заполнено"},
      {with([](ResponsePlan& p) { p.keyHolders[0].role = "сторож\x1B[2J"; }), "<ESC>"},
      {with([](ResponsePlan& p) { p.guardGroup = "ГБР ★"; }), "Windows-1251"},
      {with([](ResponsePlan& p) { p.instructions = "1.\tПозвонить"; }), "<TAB>"},
      {with([](ResponsePlan& p) { p.priority = "fire"; }), "сразу"},
      {with([](ResponsePlan& p) { p.address = "0012\n"; }), "цифрами"},
  };
  for (const auto& c : refused) {
    Result<> saved = store.SavePlan(c.plan);
    ASSERT_FALSE(saved) << c.told;
    EXPECT_NE(saved.problem().text.find(c.told), std::string::npos) << saved.problem().text;
    EXPECT_FALSE(store.ReplaceAllPlans({c.plan}));
    EXPECT_EQ(PlansIn(store), std::vector{Plan("0012", "", "старый")});
  }
  // Line breaks are what instructions are written with; "доб." is part of a phone.
  const ResponsePlan good = with([](ResponsePlan& p) {
    p.instructions = "1. Позвонить.\n2. Выслать группу.";
    p.keyHolders[0].phones = {"+7 (812) 555-01-02 доб. 12", "02"};
  });
  ASSERT_TRUE(store.SavePlan(good));
  EXPECT_EQ(PlansIn(store), std::vector{good});
}

TEST_F(StationStoreTest, OnlyTheRightSecretSignsInAndOnlyItsHashIsKept) {
  const std::string pin = "Секрет-4711";
  ASSERT_TRUE(store.AddOperator("Иванова Мария", pin, true));
  ASSERT_TRUE(store.AddOperator("Петров", "1234", false));
  const struct {
    std::string name, secret;
    std::optional<OperatorAccount> signedIn;
  } tries[] = {
      {"Иванова Мария", pin, OperatorAccount{"Иванова Мария", true}},
      {"иванова мария", pin, OperatorAccount{"Иванова Мария", true}},
      {"Иванова Мария", "Секрет-4712", {}},
      {"Иванова Мария", "", {}},
      {"Петров", pin, {}},
      {"Петров", "1234", OperatorAccount{"Петров", false}},
      {"Сидоров", "1234", {}},
  };
  for (const auto& t : tries) {
    Result<std::optional<OperatorAccount>> checked = store.CheckSecret(t.name, t.secret);
    ASSERT_TRUE(checked) << checked.problem().Told();
    EXPECT_EQ(*checked, t.signedIn) << t.name << " " << t.secret;
  }

  // The store holds an Argon2id hash that verifies, never the secret.
  sqlite3* db = store.handle();
  sqlite3_stmt* s = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT secret_hash FROM operators WHERE senior = 1", -1, &s, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
  const std::string hash = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
  sqlite3_finalize(s);
  EXPECT_EQ(hash.rfind("$argon2id$", 0), 0u) << hash;
  EXPECT_EQ(crypto_pwhash_str_verify(hash.c_str(), pin.data(), pin.size()), 0);
  EXPECT_EQ(FileBytes().find(pin), std::string::npos);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A new secret replaces the old one; a short one is refused without being told.
  ASSERT_TRUE(store.SetSecret("Петров", "98765"));
  EXPECT_FALSE(*store.CheckSecret("Петров", "1234"));
  EXPECT_TRUE(*store.CheckSecret("Петров", "98765"));
  Result<> refused = store.SetSecret("Петров", "987");
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.problem().text.find("987"), std::string::npos) << refused.problem().text;
}

TEST_F(StationStoreTest, TheListAlwaysKeepsASeniorToEditIt) {
  EXPECT_FALSE(store.AddOperator("Петров", "1234", false));  // nobody could edit the list
  ASSERT_TRUE(store.AddOperator("Иванова", "1234", true));
  ASSERT_TRUE(store.AddOperator("Петров", "1234", false));
  EXPECT_FALSE(store.AddOperator("ПЕТРОВ", "5678", false));  // the same name in other letters
  EXPECT_FALSE(store.RemoveOperator("Иванова"));
  EXPECT_FALSE(store.SetSenior("Иванова", false));
  ASSERT_TRUE(store.SetSenior("Петров", true));
  ASSERT_TRUE(store.RemoveOperator("Иванова"));
  ASSERT_TRUE(store.RemoveOperator("Петров"));  // the whole list may go
  EXPECT_TRUE(store.Operators()->empty());
}

TEST_F(StationStoreTest, ThresholdsAreThirtyAndSixtySecondsUntilSet) {
  EXPECT_EQ(*store.Thresholds(), (ReportThresholds{30, 60}));
  EXPECT_FALSE(store.SetThresholds({90, 60}));
  EXPECT_FALSE(store.SetThresholds({0, 60}));
  ASSERT_TRUE(store.SetThresholds({20, 120}));
  EXPECT_EQ(*store.Thresholds(), (ReportThresholds{20, 120}));
}

TEST_F(StationStoreTest, AStoreOfANewerProgramOrOfAnotherIsRefusedAndLeftAsItIs) {
  store.Close();
  const int newer = kStationSchemaVersion + 1;
  ASSERT_EQ(Query("PRAGMA user_version = " + std::to_string(newer)), "");
  for (StationStore::Mode mode : {StationStore::Mode::ReadWrite, StationStore::Mode::ReadOnly}) {
    Result<> opened = store.Open(path, mode);
    ASSERT_FALSE(opened);
    EXPECT_NE(opened.problem().text.find("более новой версией программы"), std::string::npos)
        << opened.problem().text;
  }
  EXPECT_EQ(Query("PRAGMA user_version"), std::to_string(newer));
  // An event store given by mistake gets no tables of ours.
  path = folder + "/events.sqlite";
  ASSERT_EQ(Query("CREATE TABLE events(id INTEGER PRIMARY KEY)"), "");
  Result<> opened = store.Open(path, StationStore::Mode::ReadWrite);
  ASSERT_FALSE(opened);
  EXPECT_NE(opened.problem().text.find("не является хранилищем станции"), std::string::npos) << opened.problem().text;
  EXPECT_EQ(Query("SELECT count(*) FROM plans"), "error");
}

}  // namespace
}  // namespace pelvaron
