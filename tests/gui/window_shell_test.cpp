#include <gtest/gtest.h>
#include <unistd.h>
#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "app/ui/console_shell.h"
#include "app/ui/console_window.h"
#include "core/cp1251.h"
#include "gui_support.h"
#include "link/ui/exchange_progress_dlg.h"
#include "objects/ui/object_card_dlg.h"
#include "programs/real_ports.h"
#include "protocol/ui/event_log_view.h"
#include "sim/simulator.h"

namespace pelvaron {
namespace {

// The window and its console against the simulated receiver on a real
// pseudo-terminal, in a folder of its own.
class WindowShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::GuiApp();
    char name[] = "/tmp/pelvaron-gui-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);

    std::string error;
    simulator_ = sim::Simulator::OnNewPty({}, &error);
    ASSERT_TRUE(simulator_) << error;
    simulator_->Start();
    ASSERT_EQ(options_.devices.Add("COM1=" + simulator_->DevicePath()), "");
  }
  void TearDown() override {
    shell_.reset();
    if (simulator_) simulator_->Stop();
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(dir_);
  }

  void Start() {
    shell_ = std::make_unique<ui::WindowShell>("pelvaron", options_, RealPorts);
    shell_->messageHook = [this](const OperatorMessage& m, int) { messages_.push_back(m); };
    shell_->start();
  }
  ui::CConsoleDlg& Window() { return shell_->window(); }
  bool LogHas(const QString& text) {
    for (int i = 0; i < Window().m_listProtocol->lineCount(); ++i) {
      if (Window().m_listProtocol->line(i).endsWith(text)) return true;
    }
    return false;
  }
  std::string ProtocolFile() {
    std::ifstream in(dir_ / "protocol.txt", std::ios::binary);
    return Cp1251ToUtf8(std::string(std::istreambuf_iterator<char>(in), {}));
  }

  std::filesystem::path dir_, previous_;
  std::unique_ptr<sim::Simulator> simulator_;
  Options options_;
  std::unique_ptr<ui::WindowShell> shell_;
  std::vector<OperatorMessage> messages_;
};

TEST_F(WindowShellTest, TheLinkComesUpAndDecodedLinesReachTheLog) {
  Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Window().m_strLinkState == "  Норма  "; }, 20000));
  EXPECT_EQ(Window().bLinkOk, 1);
  EXPECT_EQ(Window().m_listProtocol->line(0), ">>");

  sim::ContactIdEvent event;
  event.address = 1234;
  event.deviceType = 31;
  event.partition = 1;
  event.code = 130;
  event.newEvent = false;
  event.zone = 1;
  ASSERT_TRUE(simulator_->Enqueue(sim::ContactIdFrame(event)));
  ASSERT_TRUE(QTest::qWaitFor([&] { return LogHas("    Номер зоны/пользователя:     [001]"); }, 20000));
  EXPECT_TRUE(LogHas("[Восстановление охранной тревоги]"));
  EXPECT_TRUE(LogHas("     Адрес объекта:      [1234]"));

  shell_->requestClose();
  ASSERT_TRUE(QTest::qWaitFor([&] { return shell_->finished(); }, 20000));
  std::string file = ProtocolFile();
  EXPECT_NE(file.find("Восстановление охранной тревоги"), std::string::npos);
  const std::string last = "Выключение программы\r\n";
  ASSERT_GE(file.size(), last.size());
  EXPECT_EQ(file.substr(file.size() - last.size()), last);  // nothing after the closing line
  EXPECT_TRUE(messages_.empty());
}

TEST_F(WindowShellTest, CommandsFromTheWindowReachTheConsole) {
  Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Window().m_strLinkState == "  Норма  "; }, 20000));
  // The card runs modally: the operator's typing is driven from inside its loop.
  bool typed = false;
  QString openingState;
  QTimer operatorAtTheCard;
  QObject::connect(&operatorAtTheCard, &QTimer::timeout, [&] {
    if (typed || !shell_->card().isVisible()) return;
    typed = true;
    openingState = shell_->card().m_strState;
    shell_->card().m_strAddress = "0042";
    shell_->card().m_strPeriod = "2h";
    shell_->card().m_bControl = 1;
    shell_->card().updateData(false);
    shell_->card().OnRegister();
  });
  operatorAtTheCard.start(10);
  Window().triggerCommand(32775);  // new object: the card opens empty
  ASSERT_TRUE(QTest::qWaitFor([&] { return Window().m_listObjects->topLevelItemCount() == 1; }, 20000));
  operatorAtTheCard.stop();
  EXPECT_EQ(openingState, "Инициализация нового объекта");
  QTreeWidgetItem* row = Window().m_listObjects->topLevelItem(0);
  EXPECT_EQ(row->text(0), " 0042");
  EXPECT_EQ(row->text(1), "+");
  EXPECT_EQ(row->text(2), "2h");
  EXPECT_EQ(row->text(3), "0m");

  // Clear all, answered No: nothing changes.
  shell_->questionHook = [](const OperatorMessage& q) {
    return q.text != "Вы уверены, что хотите удалить информацию обо всех объектах ?";
  };
  Window().triggerCommand(32783);
  QTest::qWait(0);
  EXPECT_EQ(Window().m_listObjects->topLevelItemCount(), 1);

  shell_->requestClose();
  ASSERT_TRUE(QTest::qWaitFor([&] { return shell_->finished(); }, 20000));
  std::ifstream objects(dir_ / "objects.stt", std::ios::binary);
  std::string image(std::istreambuf_iterator<char>(objects), {});
  ASSERT_EQ(image.size(), 33936u);
  EXPECT_EQ(image.substr(336, 4), "0042");
}

// Closes every modal window that opens (as Cancel would), counting them by
// object name, and notes what else was on screen at that moment.
class ModalCanceller {
 public:
  explicit ModalCanceller(ui::WindowShell& shell) : shell_(shell) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal || modal == seen_) return;
      seen_ = modal;
      ++opened[modal->objectName()];
      for (auto* progress : shell_.window().findChildren<ui::CExchangeProgressDlg*>()) {
        if (progress->isVisible()) ++progressBehind;
      }
      QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
    });
    timer_.start(10);
  }
  std::map<QString, int> opened;
  int progressBehind = 0;

 private:
  ui::WindowShell& shell_;
  QTimer timer_;
  QPointer<QWidget> seen_;
};

TEST_F(WindowShellTest, TheCardAndTheSettingsOpenAgainAndAgain) {
  Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Window().m_strLinkState == "  Норма  "; }, 20000));
  shell_->card().setObjectName("card");
  ModalCanceller operatorAtTheDesk(*shell_);
  for (int round = 1; round <= 2; ++round) {
    Window().triggerCommand(32775);
    ASSERT_TRUE(QTest::qWaitFor([&] { return operatorAtTheDesk.opened["card"] == round; }, 20000)) << round;
    Window().triggerCommand(32771);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return operatorAtTheDesk.opened["programSettingsSheet"] == round; }, 20000))
        << round;
    Window().triggerCommand(32773);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return operatorAtTheDesk.opened["receiverSettingsSheet"] == round; }, 20000))
        << round;
  }
  // The progress window was gone before each receiver page opened.
  EXPECT_EQ(operatorAtTheDesk.progressBehind, 0);
  EXPECT_TRUE(messages_.empty());
}

}  // namespace
}  // namespace pelvaron
