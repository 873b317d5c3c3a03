#include "decode/radio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/cp1251.h"

namespace pelvaron {
namespace {

std::vector<std::string> Lines(const DecodedMessage& m) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < m.lines.size(); ++i) lines.emplace_back(m.lines[i]);
  return lines;
}

std::vector<std::string> Decode(std::uint8_t code, std::uint8_t source, std::uint8_t detail, std::uint8_t unit) {
  DecodedMessage m;
  DecodeRadioMessage({code, source, detail, unit}, m);
  EXPECT_EQ(m.radioCount, m.lines.size());
  return Lines(m);
}

TEST(RadioTest, SecurityAlarmExample) {
  EXPECT_EQ(Decode(0x10, 0x85, 0x01, 0x31),
            std::vector<std::string>{
                "     Охранная тревога РР:3\t\tРаздел:1\t\tАдрес:5 Тип:'Сумил-Р (Охранный инфракрасный)'"});
}

TEST(RadioTest, RelayOutputExample) {
  EXPECT_EQ(Decode(0x60, 0x83, 0x05, 0x36),
            (std::vector<std::string>{
                "     Активация выхода реле РР:3\t\tР1-реле\t\t  Тип:'ОМ-Р (Исполнительный блок и.1)'",
                "     Активация выхода реле РР:3\t\tР3-реле\t\t  Тип:'ОМ-Р (Исполнительный блок и.1)'",
            }));
}

TEST(RadioTest, PartitionMaskExpandsInOrderWithinTheBank) {
  std::vector<std::string> upper = Decode(0x10, 0xC5, 0xFF, 0x31);
  std::vector<std::string> lower = Decode(0x10, 0x85, 0xFF, 0x31);
  ASSERT_EQ(upper.size(), 8u);
  ASSERT_EQ(lower.size(), 8u);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(upper[i], "     Охранная тревога РР:3\t\tРаздел:" + std::to_string(i + 9) +
                            "\t\tАдрес:5 Тип:'Сумил-Р (Охранный инфракрасный)'");
    EXPECT_EQ(lower[i], "     Охранная тревога РР:3\t\tРаздел:" + std::to_string(i + 1) +
                            "\t\tАдрес:5 Тип:'Сумил-Р (Охранный инфракрасный)'");
  }
}

TEST(RadioTest, EmptyPartitionMask) {
  EXPECT_EQ(Decode(0x10, 0x85, 0x00, 0x31),
            std::vector<std::string>{
                "     Охранная тревога РР:3\t\tРаздел:0\t\tАдрес:5 Тип:'Сумил-Р (Охранный инфракрасный)'"});
  EXPECT_TRUE(Decode(0x62, 0x85, 0x00, 0x31).empty());
}

TEST(RadioTest, GroupEventExpandsAsPartitions) {
  EXPECT_EQ(Decode(0x62, 0x81, 0x04, 0x08),
            std::vector<std::string>{"     Отключение группы исполнительных устройств РР:0\t\tГруппа: "
                                     "3\t\tПольз:1 Тип:'ДК-Р (Пульт управления)'"});
}

TEST(RadioTest, RelayOutputOfAnotherExpanderWritesNothing) {
  EXPECT_TRUE(Decode(0x60, 0x85, 0x1F, 0x26).empty());
  EXPECT_EQ(
      Decode(0x61, 0x85, 0x1F, 0x26),
      (std::vector<std::string>{
          "     Активация удалённого реле РР:2\t\tР1-реле\t\tАдрес:5 Тип:'ОМ-Р (Исполнительный блок и.1)'",
          "     Активация удалённого реле РР:2\t\tР2-реле\t\tАдрес:5 Тип:'ОМ-Р (Исполнительный блок и.1)'",
          "     Активация удалённого реле РР:2\t\tР3-реле\t\tАдрес:5 Тип:'ОМ-Р (Исполнительный блок и.1)'",
          "     Активация удалённого реле РР:2\t\tСО-реле\t\tАдрес:5 Тип:'ОМ-Р (Исполнительный блок и.1)'",
          "     Активация удалённого реле РР:2\t\tЗО-реле\t\tАдрес:5 Тип:'ОМ-Р (Исполнительный блок и.1)'",
      }));
}

TEST(RadioTest, RelayMaskIgnoresBitsFiveToSeven) {
  EXPECT_TRUE(Decode(0x61, 0x05, 0xE0, 0x26).empty());
  EXPECT_TRUE(Decode(0x60, 0x02, 0xE0, 0x26).empty());
  EXPECT_EQ(Decode(0x60, 0x02, 0xE8, 0x26),
            std::vector<std::string>{
                "     Нормализация выхода реле РР:2\t\tСО-реле\t\t  Тип:'ОМ-Р (Исполнительный блок и.1)'"});
}

TEST(RadioTest, RelayColumnTakesDetailModuloFive) {
  DecodedMessage m;
  FormatRadioRecord({0x60, 0x80, 7, 0x06}, m);
  ASSERT_EQ(m.lines.size(), 1u);
  EXPECT_EQ(m.lines[0],
            "     Активация выхода реле РР:0\t\tР3-реле\t\t  Тип:'ОМ-Р (Исполнительный блок и.1)'");
}

TEST(RadioTest, AnalogueFireAlarmShowsTheQuantity) {
  EXPECT_EQ(Decode(0x15, 0xC3, 0xFF, 0x12),
            std::vector<std::string>{
                "     Пожарная тревога (аналоговая величина) РР:1\t\tТемпература:255\t\tАдрес:3 "
                "Тип:'Велеска-Р (Пожарный дымовой/тепловой)'"});
  EXPECT_EQ(Decode(0x15, 0x03, 0x2A, 0x12),
            std::vector<std::string>{"     Сброс пожарной тревоги РР:1\t\tДым:42\t\tАдрес:3 Тип:'Велеска-Р "
                                     "(Пожарный дымовой/тепловой)'"});
}

TEST(RadioTest, JammingShowsTheLevelOnlyWhenNew) {
  EXPECT_EQ(Decode(0x30, 0x8C, 0x00, 0xF0),
            std::vector<std::string>{
                "     Внешняя радиопомеха расширителю РР:15\t\t \t\t12 (уровень) Тип:'РР (расширитель)'"});
  EXPECT_EQ(Decode(0x30, 0x0C, 0x00, 0xF0),
            std::vector<std::string>{
                "     Исчезновение внешней радиопомехи расширителю РР:15\t\t \t\t  Тип:'РР (расширитель)'"});
}

TEST(RadioTest, ChangeOfUserCodeColumnDependsOnTheDeviceKind) {
  const std::string prefix = "     Смена кода пользователя РР:1\t\tРаздел:4\t\t";
  EXPECT_EQ(Decode(0x42, 0x87, 0x04, 0x14),
            std::vector<std::string>{prefix + "КЛН:7 Тип:'КЛН (Брелок управления)'"});
  EXPECT_EQ(Decode(0x42, 0x87, 0x04, 0x11),
            std::vector<std::string>{prefix + " Тип:'Сумил-Р (Охранный инфракрасный)'"});
  EXPECT_EQ(Decode(0x42, 0xBF, 0x04, 0x19),
            std::vector<std::string>{
                "     Смена кода пользователя РР:1\t\tРаздел:4\t\tПольз:63 Тип:'ДКЛ-Р (Локальный пульт)'"});
  // Kind 1 leaves column B empty: the line has four TABs and nothing between the second pair and " Тип:'".
  const std::string line = Decode(0x42, 0x87, 0x04, 0x11).at(0);
  EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 4);
  EXPECT_NE(line.find("\t\t Тип:'"), std::string::npos);
}

TEST(RadioTest, ColumnsOfTheOtherEventGroups) {
  struct Case {
    RadioRecord record;
    const char* line;
  };
  const Case cases[] = {
      {{0x00, 0x83, 0x01, 0x08},
       "     Постановка под охрану РР:0\t\tРаздел:1\t\tПольз:3 Тип:'ДК-Р (Пульт управления)'"},
      {{0x01, 0x03, 0x02, 0x00},
       "     Снятие под принуждением РР:0\t\tРаздел:2\t\tПольз:3 Тип:'РР (расширитель)'"},
      {{0x02, 0x83, 0x01, 0x05},
       "     Сброс пожаров и неисправностей РР:0\t\tРаздел:1\t\t Тип:'ТРУ-Р (Пожарный ручной)'"},
      {{0x35, 0x89, 0x00, 0x50},
       "     Отсутствие радиосвязи с дочерним расширителем РР:5\t\t \t\tВетвь:9 Тип:'РР (расширитель)'"},
      {{0x43, 0x81, 0x11, 0x0C},
       "     Программирование свойств системных устройств РР:0\t\tНомер: 17\t\tАдрес:1 Тип:'Устройство СПИ'"},
      {{0x40, 0x81, 0x11, 0x0D}, "     Изменение кода доступа к расширителю РР:0\t\t \t\t  Тип:'Тип 13'"},
      {{0x50, 0x01, 0x01, 0x0E}, "     Выключение расширителя РР:0\t\t \t\t  Тип:'Тип 14'"},
      {{0x73, 0x81, 0x00, 0x0A}, "     Попытка подмены расширителя РР:0\t\t \t\t  Тип:'ДКЛ'"},
      {{0x36, 0x81, 0x01, 0x03},
       "     Обрыв связи с СЛ ''Пирвен-2А/4А'' РР:0\t\tРаздел:1\t\tАдрес:1 Тип:'ЗЕТ "
       "(Магнитоконтактный/универсальный)'"},
      {{0x34, 0x01, 0x01, 0x07},
       "     Восстановление связи с СЛ ''Доркан-512'' РР:0\t\t \t\t  Тип:'Ливна-Р (Охранный акустический)'"},
      {{0x8C, 0x01, 0x01, 0x09},
       "     Служебное (12-восст) РР:0\t\tРаздел:1\t\tАдрес:1 Тип:'ДКЛ-Р (Локальный пульт)'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(Decode(c.record.eventCode, c.record.sourceByte, c.record.detail, c.record.unitByte),
              std::vector<std::string>{c.line});
  }
}

TEST(RadioEventTextTest, PairsAndFallbacks) {
  struct Case {
    std::uint8_t code;
    int newEvent;
    const char* text;
  };
  const Case cases[] = {
      {0x00, 1, "Постановка под охрану"},
      {0x04, 1, "Выключение контроля раздела"},
      {0x04, 0, "Включение контроля раздела"},
      {0x13, 1, "Задержка на вход"},
      {0x13, 0, "Задержка на выход"},
      {0x20, 1, "Обобщенная неисправность"},
      {0x25, 0, "Выключение режима обхода адреса (manual bypass off)"},
      {0x26, 1, "Автоматический обход адреса (auto bypass)"},
      {0x26, 0, "Автоматическое выключение обхода адреса (auto bypass off)"},
      {0x34, 1, "Обрыв связи с СЛ ''Доркан-512''"},
      {0x36, 0, "Восстановление связи с СЛ ''Пирвен-2А/4А''"},
      {0x61, 1, "Активация удалённого реле"},
      {0x62, 1, "Отключение группы исполнительных устройств"},
      {0x80, 1, "Служебное (0-нов)"},
      {0x8C, 0, "Служебное (12-восст)"},
      {0x9A, 1, "Нераспознанное событие (код 9a,новое)"},
      {0x05, 0, "Нераспознанное событие (код 5,восстановл.)"},
      {0xFF, 0, "Нераспознанное событие (код ff,восстановл.)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RadioEventText(c.code, c.newEvent), c.text) << std::hex << int{c.code} << " " << c.newEvent;
  }
  // Gaps inside the known groups fall back too.
  for (std::uint8_t code : {0x05, 0x16, 0x27, 0x39, 0x44, 0x52, 0x63, 0x76, 0x90}) {
    EXPECT_EQ(RadioEventText(code, 1).rfind("Нераспознанное событие (код ", 0), 0u) << std::hex << int{code};
  }
}

TEST(RadioTest, EveryRecordDecodesIntoCompleteLines) {
  const std::uint8_t sources[] = {0x00, 0x3F, 0x40, 0x80, 0xC5, 0xFF};
  const std::uint8_t details[] = {0x00, 0x01, 0x1F, 0x55, 0xE0, 0xFF};
  const std::uint8_t units[] = {0x00, 0x26, 0x3A, 0xF2, 0xFF};
  for (int code = 0; code < 256; ++code) {
    for (std::uint8_t source : sources) {
      for (std::uint8_t detail : details) {
        for (std::uint8_t unit : units) {
          std::vector<std::string> lines = Decode(static_cast<std::uint8_t>(code), source, detail, unit);
          ASSERT_LE(lines.size(), 8u) << code;
          for (const std::string& line : lines) {
            // A line cut by the writer would lose its closing apostrophe.
            ASSERT_LT(Utf8Length(line), 150u) << line;
            ASSERT_EQ(line.rfind("     ", 0), 0u) << line;
            ASSERT_EQ(line.back(), '\'') << line;
            ASSERT_EQ(std::count(line.begin(), line.end(), '\t'), 4) << line;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace pelvaron
