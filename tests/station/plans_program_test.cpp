// pelvaron-plans in a station's folder: what a station exports, edits in a
// spreadsheet and imports again.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <string>

#include "station_folder.h"

namespace pelvaron {
namespace {

constexpr char kHeader[] = "address,priority,instructions,guard_group,guard_phone,holder,name,role,phones\r\n";

// Cyrillic, quotes, commas, line breaks, several phones, a plan without key
// holders, default plans first: as the export writes it.
const std::string kTable = std::string(kHeader) +
    ",fire,\"Вызвать пожарную охрану (01, 101).\nСообщить ответственным.\",ГБР «Центр»,+7 (812) 555-00-01,,,,\r\n"
    ",panic,Выслать ближайшую группу,ГБР-2,112,1,Дежурный ОВД,,02\r\n"
    "0012,,\"Магазин \"\"Продукты\"\", вход со двора.\nКлючи у сторожа.\",ГБР-3,8 (812) 555-01-02 доб. 7,1,"
    "\"Иванов, Иван\",владелец,+7 921 000-00-01; 8 812 555-11-11\r\n"
    "0012,,\"Магазин \"\"Продукты\"\", вход со двора.\nКлючи у сторожа.\",ГБР-3,8 (812) 555-01-02 доб. 7,2,"
    "Петрова А. С.,\"директор, \"\"главная\"\"\",+7-921-000-00-02\r\n"
    "4660,,,,,,,,\r\n";

std::vector<ResponsePlan> TablePlans() {
  const std::string shop = "Магазин \"Продукты\", вход со двора.\nКлючи у сторожа.";
  return {
      {"", "fire", "Вызвать пожарную охрану (01, 101).\nСообщить ответственным.", {}, "ГБР «Центр»",
       "+7 (812) 555-00-01"},
      {"", "panic", "Выслать ближайшую группу", {{"Дежурный ОВД", "", {"02"}}}, "ГБР-2", "112"},
      {"0012", "", shop,
       {{"Иванов, Иван", "владелец", {"+7 921 000-00-01", "8 812 555-11-11"}},
        {"Петрова А. С.", "директор, \"главная\"", {"+7-921-000-00-02"}}},
       "ГБР-3", "8 (812) 555-01-02 доб. 7"},
      {"4660", "", "", {}, "", ""},
  };
}

struct Ran {
  int status = -1;
  std::string out, err;
};

class PlansProgramTest : public testing::StationFolder {
 protected:
  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(folder + "/" + name, std::ios::binary) << bytes;
  }
  std::string Read(const std::string& name) {
    std::stringstream bytes;
    bytes << std::ifstream(folder + "/" + name, std::ios::binary).rdbuf();
    return bytes.str();
  }
  Ran Plans(const std::string& args) {
    const std::string command =
        "cd " + folder + " && " PELVARON_PLANS_PROGRAM " " + args + " >out.txt 2>err.txt";
    const int status = std::system(command.c_str());
    return Ran{WIFEXITED(status) ? WEXITSTATUS(status) : -1, Read("out.txt"), Read("err.txt")};
  }
  std::vector<ResponsePlan> Stored() {
    StationStore store;
    Result<> opened = store.Open(path, StationStore::Mode::ReadOnly);
    EXPECT_TRUE(opened) << opened.problem().Told();
    return PlansIn(store);
  }
};

TEST_F(PlansProgramTest, ExportImportExportGivesTheSameBytesAndKeepsEveryField) {
  Write("table.csv", kTable);
  Ran r = Plans("import table.csv");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Stored(), TablePlans());

  r = Plans("export first.csv");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Read("first.csv"), kTable);
  ASSERT_EQ(Plans("import first.csv").status, 0);
  r = Plans("export");  // to the standard output
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kTable);

  // What a spreadsheet may make of it: a BOM, LF, rows in another order,
  // holder numbers with gaps, spaces around phones, a trailing empty row.
  Write("edited.csv",
        "\xEF\xBB\xBF" + std::string(kHeader).substr(0, sizeof kHeader - 3) + "\n4660,,,,,,,,\n"
        "0012,,\"Магазин \"\"Продукты\"\", вход со двора.\r\nКлючи у сторожа.\",ГБР-3,8 (812) 555-01-02 доб. 7,20,"
        "Петрова А. С.,\"директор, \"\"главная\"\"\",+7-921-000-00-02 ;\n"
        ",panic,Выслать ближайшую группу,ГБР-2,112,1,Дежурный ОВД,,02\n"
        "0012,,\"Магазин \"\"Продукты\"\", вход со двора.\nКлючи у сторожа.\",ГБР-3,8 (812) 555-01-02 доб. 7,5,"
        "\"Иванов, Иван\",владелец,+7 921 000-00-01;8 812 555-11-11\n"
        ",fire,\"Вызвать пожарную охрану (01, 101).\nСообщить ответственным.\",ГБР «Центр»,+7 (812) 555-00-01,,,,\n"
        ",,,,,,,,\n");
  r = Plans("import edited.csv");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Stored(), TablePlans());
}

TEST_F(PlansProgramTest, ARefusedRowNamesItsLineAndLeavesTheOldPlans) {
  Write("table.csv", kTable);
  ASSERT_EQ(Plans("import table.csv").status, 0);
  const struct {
    std::string rows;  // after the header
    std::string told;  // in the message
  } cases[] = {
      {"0012,,,,,1,Иванов,,+7 921 000\r\n0013,,,,,1,Петров,,звонить\r\n", "строка 3: Телефон в столбце phones"},
      {"0012,,\"a\nb\",,,1,Иванов,,1\r\n0013,,,,,1,\"Пет\nров\",,2\r\n", "строка 4 (строка таблицы 3): Столбец name"},
      {"0012,,\"открыто,,,1,Иванов,,1\r\n", "строка 2: кавычки"},
      {"0012,,,,,1,Иванов,,1,\r\n", "строка 2: полей 10"},
      {"0012,,x,,,1,Иванов,,1\r\n0012,,y,,,2,Петров,,2\r\n", "строка 3: столбец instructions не такой, как в строке 2"},
      {"0012,,,,,1,Иванов,,1\r\n0012,,,,,1,Петров,,2\r\n", "строка 3: ответственное лицо №1"},
      {"0012,,,,,1,\xC8\xE2\xE0\xED\xEE\xE2,,1\r\n", "строка 2: текст не в кодировке UTF-8"},
      {",fier,,,,,,,\r\n", "строка 2: приоритета «fier» нет"},
      {"0012,fire,,,,,,,\r\n", "строка 2: заполнены и address, и priority"},
      {"00 12,,,,,,,,\r\n", "строка 2: Столбец address «00 12»"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rows);
    Write("bad.csv", kHeader + c.rows);
    const Ran r = Plans("import bad.csv");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find(c.told), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Ничего не импортировано"), std::string::npos) << r.err;
    EXPECT_EQ(Stored(), TablePlans());
  }
  Write("bad.csv", "адрес,приоритет\r\n");
  EXPECT_EQ(Plans("import bad.csv").status, 3);
  EXPECT_EQ(Stored(), TablePlans());
}

}  // namespace
}  // namespace pelvaron
