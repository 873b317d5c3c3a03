#include "protocol/settings.h"

#include <gtest/gtest.h>

#include <cstring>

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
  EXPECT_TRUE(op.messages.empty());
  EXPECT_TRUE(fs.files["pelvaron.ini"].empty());  // read, never rewritten
}

}  // namespace
}  // namespace pelvaron
