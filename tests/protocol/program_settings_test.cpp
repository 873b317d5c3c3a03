#include "protocol/program_settings.h"

#include <gtest/gtest.h>

#include "support/fakes.h"

namespace pelvaron {
namespace {

using testing::MemoryFileSystem;
using testing::RecordingOperator;

class ProgramSettingsTest : public ::testing::Test {
 protected:
  ProgramSettingsTest() { LoadSettings(settings, fs, op); }

  bool Ok(const ProgramSettingsValues& page) {
    return StoreProgramSettings(page, settings, bReopenCom, fs, op);
  }
  std::vector<std::uint8_t> File() { return fs.files["pelvaron.ini"]; }

  ConsoleSettings settings = ConsoleSettings::Defaults();
  MemoryFileSystem fs;
  RecordingOperator op;
  int bReopenCom = 0;
};

TEST_F(ProgramSettingsTest, ThePageShowsTheStoredValues) {
  EXPECT_EQ(FillProgramSettings(settings), (ProgramSettingsValues{1, 0, "protocol.txt", "12"}));
  settings.nComPort = 9;  // from a foreign file: no row
  settings.nLinkAttempts = 7;
  EXPECT_EQ(FillProgramSettings(settings), (ProgramSettingsValues{1, -1, "protocol.txt", "7"}));
}

TEST_F(ProgramSettingsTest, AttemptsOutOfRangeAreRefusedAndNothingIsSaved) {
  const auto before = File();
  for (const char* attempts : {"0", "00", "", "100", "-3", "x5"}) {
    op.messages.clear();
    EXPECT_FALSE(Ok({0, 2, "other.txt", attempts})) << attempts;
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0], (OperatorMessage{"Количество попыток связи должно быть от 01 до 99!",
                                               "Ошибка ввода", MessageIcon::Error}));
  }
  EXPECT_EQ(File(), before);
  EXPECT_EQ(bReopenCom, 0);
  EXPECT_EQ(settings.ProtocolPath(), "protocol.txt");
  // The switch and the port were taken at once and stay for this run.
  EXPECT_EQ(settings.bSaveProtocol, 0);
  EXPECT_EQ(settings.nComPort, 2);
}

TEST_F(ProgramSettingsTest, AValidPageIsStoredSavedAndReopensThePort) {
  EXPECT_TRUE(Ok({1, 2, "журнал.txt", "7"}));
  EXPECT_EQ(bReopenCom, 1);
  EXPECT_EQ(settings.nLinkAttempts, 7);
  EXPECT_EQ(File()[204], 2);
  EXPECT_EQ(File()[205], 7);
  EXPECT_EQ(File()[4], 0xE6);  // Windows-1251 "ж"
  EXPECT_EQ(FillProgramSettings(settings).m_strAttempts, "7");
}

TEST_F(ProgramSettingsTest, TheNumberIsReadFromTheStartOfTheText) {
  EXPECT_TRUE(Ok({1, 0, "protocol.txt", "5x"}));
  EXPECT_EQ(settings.nLinkAttempts, 5);
  EXPECT_TRUE(Ok({1, 0, "protocol.txt", " 09"}));
  EXPECT_EQ(settings.nLinkAttempts, 9);
  EXPECT_EQ(LeadingNumber("+42abc"), 42);
  EXPECT_EQ(LeadingNumber("-1"), -1);
  EXPECT_EQ(LeadingNumber("99999999999999"), INT_MAX);
}

TEST_F(ProgramSettingsTest, NoRowKeepsTheStoredPort) {
  settings.nComPort = 9;
  EXPECT_TRUE(Ok({1, -1, "protocol.txt", "12"}));
  EXPECT_EQ(settings.nComPort, 9);
}

TEST_F(ProgramSettingsTest, APathWindows1251CannotHoldIsRefused) {
  EXPECT_FALSE(Ok({1, 0, "日誌.txt", "12"}));
  EXPECT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(settings.ProtocolPath(), "protocol.txt");
  EXPECT_EQ(bReopenCom, 0);
}

}  // namespace
}  // namespace pelvaron
