#include "widgets/command_host.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <QProcess>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/console_access.h"
#include "core/fixed_text.h"
#include "gui_support.h"
#include "link/fake_serial_port.h"
#include "objects/object_card.h"
#include "objects/ui/object_commands_ui.h"
#include "protocol/ui/open_protocol_file.h"
#include "protocol/ui/protocol_commands_ui.h"
#include "res/resources.h"
#include "support/fakes.h"

namespace pelvaron::ui {
namespace {

// A host without threads: every call runs at once on a console made of
// fakes, and the operator's answers are scripted.
class ImmediateHost : public CommandHost {
 public:
  ImmediateHost() {
    clock.SetLocal(2026, 12, 6, 10, 15, 30);
    console.Startup();
  }

  void post(Call call) override { call(); }
  void showMessage(const OperatorMessage& message, QWidget*) override { messages.push_back(message); }
  void showMessageAndWait(const OperatorMessage& message, QWidget*) override { messages.push_back(message); }
  bool ask(const OperatorMessage& question, QWidget*, bool) override {
    questions.push_back(question.text);
    return answer;
  }
  QWidget* dialogOwner() override { return nullptr; }
  bool beginSettingsCommand() override { return true; }
  void endSettingsCommand() override {}
  void beginExchange() override {}
  void endExchange() override {}

  // Registers an object in the first free slot, as the card would.
  void Register(const char* address) {
    ObjectCard typed;
    OpenObjectCard(typed, console.Objects().Table());
    typed.m_strAddress = address;
    typed.m_strPeriod = "2h";
    typed.m_bControl = 1;
    ASSERT_FALSE(RegisterObjectCard(typed, console.Objects()).has_value());
  }
  int Objects() {
    int n = 0;
    for (int slot = 1; slot <= kLastObjectSlot; ++slot) n += console.Objects().Table()[slot].bUsed != 0;
    return n;
  }

  testing::FakeClock clock;
  testing::MemoryFileSystem fs;
  testing::RecordingOperator op;
  testing::FakeSerialPort port;
  Console console{clock, fs, op, port, DeviceMap{}};
  ObjectCard card;
  // Where the commands find them.
  struct Access : ConsoleAccess {
    explicit Access(ImmediateHost& host) : host(host) {}
    Console& console() override { return host.console; }
    ObjectCard& card() override { return host.card; }
    ImmediateHost& host;
  } access{*this};
  bool answer = false;
  std::vector<std::string> questions;
  std::vector<OperatorMessage> messages;

 protected:
  void postAndReturn(Call work, std::function<void()> back) override {
    work();
    back();
  }
};

// The object list's commands need nothing of the window shell but its host.
TEST(ObjectCommandsThroughAHost, QuestionsComeFirstAndOnlyYesActs) {
  testing::GuiApp();
  ImmediateHost host;
  ObjectCommandsUi commands(host, host.access);
  host.Register("0042");
  host.Register("0043");
  ASSERT_EQ(host.Objects(), 2);

  // Delete the first row's object: its question, with the address, then nothing on No.
  commands.onObjectCommand(res::ID_OBJECT_DELETE, 0);
  ASSERT_EQ(host.questions.size(), 1u);
  EXPECT_NE(host.questions[0].find("0042"), std::string::npos) << host.questions[0];
  EXPECT_EQ(host.Objects(), 2);
  host.answer = true;
  commands.onObjectCommand(res::ID_OBJECT_DELETE, 0);
  EXPECT_EQ(host.Objects(), 1);
  // The rows close up: the other object is the first row now.
  EXPECT_EQ(ReadFixedText(host.console.Objects().Table()[1].szAddress), "0043");

  // Without a selection a command for one object asks nothing and changes nothing.
  commands.onObjectCommand(res::ID_OBJECT_DELETE, -1);
  commands.onObjectCommand(res::ID_OBJECT_CONTROL_OFF, -1);
  EXPECT_EQ(host.questions.size(), 2u);
  EXPECT_EQ(host.console.Objects().Table()[1].bControl, 1);
  commands.onObjectCommand(res::ID_OBJECT_CONTROL_OFF, 0);
  EXPECT_EQ(host.console.Objects().Table()[1].bControl, 0);

  // Clear all: asked, and answered No keeps the table.
  host.answer = false;
  commands.onObjectCommand(res::ID_OBJECTS_CLEAR_ALL, -1);
  EXPECT_EQ(host.questions.size(), 3u);
  EXPECT_EQ(host.Objects(), 1);
  host.answer = true;
  commands.onObjectCommand(res::ID_OBJECTS_CLEAR_ALL, -1);
  EXPECT_EQ(host.Objects(), 0);
  EXPECT_TRUE(host.messages.empty());
}

// "Открыть файл протокола для просмотра" with a viewer of the test's own, in
// a folder of its own that holds the protocol file.
class ViewerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::GuiApp();
    ASSERT_FALSE(folder_.Path().empty());
    std::ofstream("protocol.txt") << "line\r\n";
    saved_ = ViewerCommand();
  }
  void TearDown() override {
    SetViewerCommand(saved_);
  }
  // A viewer written in shell: the document is its $1.
  static void Viewer(const QString& script) {
    SetViewerCommand({QStringLiteral("/bin/sh"), QStringLiteral("-c"), script, QStringLiteral("viewer")});
  }
  // Opens the file and waits for the viewer to end; the messages it brought.
  std::vector<std::string> Open(const std::string& path) {
    QObject context;
    std::vector<std::string> texts;
    OpenProtocolFileForViewing(path, &context, [&](const OperatorMessage& m) {
      EXPECT_EQ(m.title, "Ошибка");
      EXPECT_EQ(m.icon, MessageIcon::Error);
      texts.push_back(m.text);
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return context.findChildren<QProcess*>().isEmpty(); }, 20000));
    return texts;
  }

  testing::WorkFolder folder_{"pelvaron-viewer"};
  const std::filesystem::path& dir_ = folder_.Path();
  QStringList saved_;
};

TEST_F(ViewerTest, OnlyAFailureIsTold) {
  Viewer(R"(printf %s "$1" > shown)");
  EXPECT_TRUE(Open("protocol.txt").empty());
  std::ifstream shown(dir_ / "shown");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(shown), {}), (dir_ / "protocol.txt").string());
  Viewer("exit 4");  // the viewer found none for the file's type
  EXPECT_EQ(Open("protocol.txt"), std::vector<std::string>{"Ошибка: 4"});
  SetViewerCommand({"/nonexistent/viewer"});  // no opener installed
  EXPECT_EQ(Open("protocol.txt"), std::vector<std::string>{"Ошибка: 2"});
  // A missing file is told as such, and no viewer is started for it.
  Viewer("touch started");
  EXPECT_EQ(Open("missing.txt"), std::vector<std::string>{" Файл протокола 'missing.txt' не существует"});
  EXPECT_FALSE(std::filesystem::exists(dir_ / "started"));
}

// The command, from the console's path to the operator's message box, with a
// viewer that exits 1.
TEST_F(ViewerTest, TheCommandShowsTheViewersFailure) {
  ImmediateHost host;
  ProtocolCommandsUi commands(host, host.access);
  Viewer("exit 1");
  commands.onOpenProtocolFile();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !host.messages.empty(); }, 20000));
  EXPECT_EQ(host.messages[0], (OperatorMessage{"Ошибка: 1", "Ошибка", MessageIcon::Error}));
}

}  // namespace
}  // namespace pelvaron::ui
