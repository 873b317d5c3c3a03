#include "protocol/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "support/fakes.h"

namespace pelvaron {
namespace {

using testing::MemoryFileSystem;
using testing::RecordingOperator;

std::vector<std::uint8_t> DefaultImage() {
  std::vector<std::uint8_t> image(208, 0);
  image[0] = 1;
  std::memcpy(&image[4], "protocol.txt", 12);
  image[204] = 0;
  image[205] = 12;
  return image;
}

TEST(LoadSettings, FirstStartCreatesTheFileFromTheDefaults) {
  MemoryFileSystem fs;
  RecordingOperator op;
  auto settings = ConsoleSettings::Defaults();
  LoadSettings(settings, fs, op);
  EXPECT_EQ(fs.files["pelvaron.ini"], DefaultImage());
  EXPECT_TRUE(op.messages.empty());
}

TEST(LoadSettings, AShortFileFillsOnlyTheLeadingPart) {
  MemoryFileSystem fs;
  RecordingOperator op;
  std::vector<std::uint8_t> file(206, 0);
  file[0] = 0;
  std::memcpy(&file[4], "log.txt", 7);
  file[204] = 2;
  file[205] = 5;
  fs.files["pelvaron.ini"] = file;
  auto settings = ConsoleSettings::Defaults();
  settings.reserved[0] = 0xAA;  // stands for the default of a field the file does not cover
  LoadSettings(settings, fs, op);
  EXPECT_EQ(settings.bSaveProtocol, 0);
  EXPECT_EQ(settings.ProtocolPath(), "log.txt");
  EXPECT_EQ(settings.nComPort, 2);
  EXPECT_EQ(settings.nLinkAttempts, 5);
  EXPECT_EQ(settings.reserved[0], 0xAA);
  EXPECT_EQ(fs.replaceCount, 0);  // an existing file is only read
}

TEST(LoadSettings, ALongFileIsReadUpToTheBlocksSize) {
  MemoryFileSystem fs;
  RecordingOperator op;
  auto file = DefaultImage();
  file[205] = 40;
  file[206] = 0x77;
  file.resize(300, 0x55);
  fs.files["pelvaron.ini"] = file;
  auto settings = ConsoleSettings::Defaults();
  LoadSettings(settings, fs, op);
  EXPECT_EQ(settings.nLinkAttempts, 40);
  EXPECT_EQ(settings.reserved[0], 0x77);
}

TEST(LoadSettings, AnUnreadableFileIsReportedAndKept) {
  MemoryFileSystem fs;
  RecordingOperator op;
  fs.files["pelvaron.ini"] = std::vector<std::uint8_t>(208, 0x33);
  fs.failRead = 13;
  auto settings = ConsoleSettings::Defaults();
  LoadSettings(settings, fs, op);
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0], (OperatorMessage{"13 : System error(debugging info).", "", MessageIcon::None}));
  EXPECT_EQ(fs.files["pelvaron.ini"], std::vector<std::uint8_t>(208, 0x33));
  EXPECT_EQ(settings.nLinkAttempts, 12);
}

TEST(LoadSettings, AFileThatCannotBeCreatedIsReported) {
  MemoryFileSystem fs;
  RecordingOperator op;
  fs.failReplace = 30;
  auto settings = ConsoleSettings::Defaults();
  LoadSettings(settings, fs, op);
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0].text, "30 : System error(debugging info).");
  EXPECT_EQ(settings.nLinkAttempts, 12);
}

TEST(SaveSettings, ReplacesTheFileAndAFailureKeepsTheOldOne) {
  MemoryFileSystem fs;
  RecordingOperator op;
  fs.files["pelvaron.ini"] = DefaultImage();
  auto settings = ConsoleSettings::Defaults();
  settings.nComPort = 2;
  EXPECT_EQ(SaveSettings(settings, fs, op), 0);
  EXPECT_EQ(fs.files["pelvaron.ini"][204], 2);

  settings.nComPort = 4;
  fs.failReplace = 28;  // disk full
  EXPECT_EQ(SaveSettings(settings, fs, op), 28);
  EXPECT_EQ(fs.files["pelvaron.ini"][204], 2);
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0].text, "28 : System error(debugging info).");
}

TEST(ConsoleSettings, APathWithoutItsZeroIsReadToTheFieldsEnd) {
  auto settings = ConsoleSettings::Defaults();
  std::memset(settings.szProtocolPath, 'p', sizeof settings.szProtocolPath);
  settings.nComPort = 0x41;  // the byte behind the field must not join the path
  EXPECT_EQ(settings.ProtocolPath(), std::string(200, 'p'));
}

TEST(ConsoleSettings, PathsAreStoredInWindows1251AndRefusedWhenTheyCannotBe) {
  auto settings = ConsoleSettings::Defaults();
  ASSERT_TRUE(settings.SetProtocolPath("журнал.txt"));
  EXPECT_EQ(std::memcmp(settings.szProtocolPath, "\xE6\xF3\xF0\xED\xE0\xEB.txt", 11), 0);
  EXPECT_EQ(settings.ProtocolPath(), "журнал.txt");
  EXPECT_FALSE(settings.SetProtocolPath("日誌.txt"));
  EXPECT_FALSE(settings.SetProtocolPath(std::string(200, 'x')));  // no room for the zero
  EXPECT_EQ(settings.ProtocolPath(), "журнал.txt");
}

TEST(ConsoleSettings, LinkAttemptsOutOfRangeAreMadeSafe) {
  auto settings = ConsoleSettings::Defaults();
  for (auto [stored, used] : {std::pair{12, 12}, {1, 1}, {99, 99}, {0, 1}, {-5, 1}, {100, 99}, {127, 99}}) {
    settings.nLinkAttempts = static_cast<std::int8_t>(stored);
    EXPECT_EQ(settings.LinkAttempts(), used) << stored;
  }
}

}  // namespace
}  // namespace pelvaron

namespace pelvaron {
namespace {

TEST(LoadSettings, AnEmptyFileLeavesTheDefaults) {
  testing::MemoryFileSystem fs;
  testing::RecordingOperator op;
  fs.files["pelvaron.ini"] = {};
  const auto defaults = ConsoleSettings::Defaults();
  auto settings = defaults;
  LoadSettings(settings, fs, op);
  EXPECT_EQ(std::memcmp(&settings, &defaults, sizeof settings), 0);
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0].text.rfind("Файл настроек pelvaron.ini повреждён: размер 0 байт вместо 208 ", 0),
            0u);
  EXPECT_TRUE(fs.files["pelvaron.ini"].empty());  // read, never rewritten
}

// A file that is no settings image (a text someone wrote, a disk's garbage)
// is told naming the file and each thing wrong; what is out of range runs
// with its default, and the file is left for the operator.
TEST(LoadSettings, AGarbageFileIsToldAndItsValuesOutOfRangeAreNotUsed) {
  std::vector<std::uint8_t> longer = DefaultImage();
  longer[204] = 5;
  longer.resize(300, 0x55);
  const std::string text = "[main]\nport=COM1\n";
  const std::tuple<std::vector<std::uint8_t>, std::vector<std::string>, int> cases[] = {
      {{text.begin(), text.end()},
       {"размер 17 байт вместо 208 (недостающее взято по умолчанию)", "признак записи протокола 1767992667",
        "путь к файлу протокола содержит управляющий символ <LF> (взят protocol.txt)"},
       0},
      {std::vector<std::uint8_t>(208, 0xFF),
       {"путь к файлу протокола без завершающего нуля", "номер порта -1 вне 0..5 (взят COM1)",
        "число попыток -1 вне 1..99 (взято 12)"},
       0},
      {longer, {"размер больше 208 байт (прочитаны первые 208)"}, 5},
  };
  for (const auto& [file, told, port] : cases) {
    MemoryFileSystem fs;
    RecordingOperator op;
    fs.files["pelvaron.ini"] = file;
    auto settings = ConsoleSettings::Defaults();
    LoadSettings(settings, fs, op);
    EXPECT_EQ(settings.ProtocolPath(), "protocol.txt");
    EXPECT_EQ((std::vector<int>{settings.bSaveProtocol, settings.nComPort, settings.nLinkAttempts}),
              (std::vector<int>{1, port, 12}));
    EXPECT_EQ(fs.files["pelvaron.ini"], file) << "never rewritten";
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].text.rfind("Файл настроек pelvaron.ini повреждён: ", 0), 0u);
    for (const std::string& part : told) EXPECT_NE(op.messages[0].text.find(part), std::string::npos) << part;
  }
}

}  // namespace
}  // namespace pelvaron
