#include <gtest/gtest.h>
#include <unistd.h>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
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
#include "operator_texts.h"
#include "programs/real_ports.h"
#include "protocol/ui/event_log_view.h"
#include "res/resources.h"
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

  // realBoxes: the console's messages in boxes, not in messages_.
  void Start(bool realBoxes = false) {
    shell_ = std::make_unique<ui::WindowShell>("pelvaron", options_, RealPorts);
    if (!realBoxes) shell_->messageHook = [this](const OperatorMessage& m) { messages_.push_back(m); };
    shell_->start();
  }
  void StartAndWaitForTheLink(bool realBoxes = false) {
    Start(realBoxes);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Window().m_strLinkState == "  Норма  "; }, 20000));
  }
  // Frames that the console decodes into lines of the log; true once the
  // last of them is there.
  bool SendMessageAndWait(int address) {
    sim::ContactIdEvent event;
    event.address = address;
    event.deviceType = 31;
    event.partition = 1;
    event.code = 130;
    event.zone = 1;
    if (!simulator_->Enqueue(sim::ContactIdFrame(event))) return false;
    const QString line = QString("     Адрес объекта:      [%1]").arg(address);
    return QTest::qWaitFor([&] { return LogHas(line); }, 20000);
  }
  ui::CExchangeProgressDlg* VisibleProgress() {
    for (auto* progress : Window().findChildren<ui::CExchangeProgressDlg*>())
      if (progress->isVisible()) return progress;
    return nullptr;
  }
  bool EndsWithTheClosingLine() {
    const std::string file = ProtocolFile(), last = "Выключение программы\r\n";
    return file.size() >= last.size() && file.substr(file.size() - last.size()) == last;
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
      titles[modal->objectName()] = modal->windowTitle();
      for (auto* progress : shell_.window().findChildren<ui::CExchangeProgressDlg*>()) {
        if (progress->isVisible()) ++progressBehind;
      }
      QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
    });
    timer_.start(10);
  }
  std::map<QString, int> opened;
  std::map<QString, QString> titles;
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
  // The settings sheets are untitled: nothing but blanks in their title bars.
  for (const char* sheet : {"programSettingsSheet", "receiverSettingsSheet"}) {
    const QString title = operatorAtTheDesk.titles[sheet];
    EXPECT_TRUE(title.trimmed().isEmpty() && !title.isEmpty()) << sheet;
  }
}

// A stray Enter or Esc asks first, with "Нет" as the default: a second stray
// key answers it and the console goes on monitoring. Only "Да" ends it.
TEST_F(WindowShellTest, EnterAndEscAskFirstAndNoKeepsMonitoring) {
  StartAndWaitForTheLink();
  QStringList defaults, unreadable;
  std::vector<QString> questions;
  bool yes = false;
  QTimer operatorAtTheBox;
  QObject::connect(&operatorAtTheBox, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    questions.push_back(box->windowTitle() + " | " + box->text());
    defaults << box->defaultButton()->text();
    unreadable << testing::UnreadableTexts(box, {"pelvaron"});
    if (yes) {
      box->button(QMessageBox::Yes)->click();
    } else {
      // The same stray key once more.
      QTest::keyClick(box, questions.size() % 2 ? Qt::Key_Escape : Qt::Key_Return);
    }
  });
  operatorAtTheBox.start(10);
  QTest::keyClick(&Window(), Qt::Key_Escape);
  QTest::keyClick(Window().m_listProtocol, Qt::Key_Return);
  ASSERT_EQ(questions.size(), 2u);
  EXPECT_EQ(questions[0], QString("pelvaron | Завершить работу программы?"));
  EXPECT_EQ(defaults, (QStringList{"Нет", "Нет"}));
  EXPECT_EQ(unreadable, QStringList());
  EXPECT_FALSE(shell_->finished());
  ASSERT_TRUE(SendMessageAndWait(1234));  // still monitoring

  yes = true;
  QTest::keyClick(&Window(), Qt::Key_Return);
  ASSERT_TRUE(QTest::qWaitFor([&] { return shell_->finished(); }, 20000));
  EXPECT_TRUE(EndsWithTheClosingLine());
}

// While the receiver's parameters are read, neither window takes input: no
// context menu, no question, no command; afterwards all works again.
TEST_F(WindowShellTest, NothingReactsDuringAnExchange) {
  StartAndWaitForTheLink();
  int menus = 0;
  QTimer menuCloser;
  QObject::connect(&menuCloser, &QTimer::timeout, [&] {
    if (QWidget* popup = QApplication::activePopupWidget()) {
      ++menus;
      popup->close();
    }
  });
  menuCloser.start(10);
  ModalCanceller operatorAtTheDesk(*shell_);
  QSignalSpy rightClicks(&Window(), &ui::CConsoleDlg::objectListRightClicked);
  QSignalSpy exitKeys(&Window(), &ui::CConsoleDlg::exitKeyPressed);
  QSignalSpy clears(&Window(), &ui::CConsoleDlg::clearLogRequested);
  auto operatorTries = [&] {
    QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(5, 5),
                           Window().m_listObjects->viewport()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(Window().m_listObjects->viewport(), &menu);
    QTest::keyClick(&Window(), Qt::Key_Escape);
    QTest::mouseClick(Window().control(res::IDC_CLEAR_LOG), Qt::LeftButton);
  };

  ASSERT_TRUE(simulator_->Apply("badsum always on=gd"));  // the read keeps failing
  Window().triggerCommand(res::ID_RECEIVER_SETTINGS);
  ASSERT_TRUE(QTest::qWaitFor([&] { return VisibleProgress() != nullptr; }, 20000));
  operatorTries();
  QTest::keyClick(VisibleProgress(), Qt::Key_Escape);
  EXPECT_EQ(rightClicks.count(), 0);
  EXPECT_EQ(menus, 0);
  EXPECT_EQ(exitKeys.count(), 0);
  EXPECT_EQ(clears.count(), 0);
  EXPECT_TRUE(VisibleProgress() != nullptr);

  ASSERT_TRUE(simulator_->Apply("no-faults"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return operatorAtTheDesk.opened["receiverSettingsSheet"] == 1; }, 20000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeModalWidget() == nullptr; }, 20000));
  operatorTries();
  EXPECT_EQ(rightClicks.count(), 1);
  EXPECT_EQ(menus, 1);
  EXPECT_EQ(clears.count(), 1);
  EXPECT_GE(exitKeys.count(), 1);
  EXPECT_FALSE(shell_->finished());
}

// The close box during an exchange: the window says it will close, and does
// as soon as the exchange is over, without opening the receiver's page.
TEST_F(WindowShellTest, TheCloseBoxDuringAnExchangeClosesRightAfterIt) {
  StartAndWaitForTheLink();
  ModalCanceller operatorAtTheDesk(*shell_);
  ASSERT_TRUE(simulator_->Apply("badsum always on=gd"));
  Window().triggerCommand(res::ID_RECEIVER_SETTINGS);
  ASSERT_TRUE(QTest::qWaitFor([&] { return VisibleProgress() != nullptr; }, 20000));
  Window().close();
  EXPECT_FALSE(shell_->finished());
  EXPECT_TRUE(Window().isVisible());
  ASSERT_NE(VisibleProgress(), nullptr);
  EXPECT_FALSE(VisibleProgress()->closingNotice().isEmpty());
  EXPECT_FALSE(VisibleProgress()->text1017().isEmpty());  // still counting its attempts

  ASSERT_TRUE(simulator_->Apply("no-faults"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return shell_->finished(); }, 20000));
  EXPECT_FALSE(Window().isVisible());
  EXPECT_EQ(operatorAtTheDesk.opened["receiverSettingsSheet"], 0);
  EXPECT_TRUE(EndsWithTheClosingLine());
  EXPECT_TRUE(messages_.empty());
}

// A protocol file that cannot be written and live traffic: while the program
// settings sheet is open, the repeated message waits behind it and then shows
// as one box with its count, instead of a box over the sheet for each line;
// boxes never pile up.
TEST_F(WindowShellTest, RepeatedMessagesWaitBehindTheSettingsSheet) {
  std::filesystem::create_directory(dir_ / "protocol.txt");  // no line reaches the file
  StartAndWaitForTheLink(true);
  auto boxes = [&] {
    QList<QMessageBox*> shown;
    for (auto* box : Window().findChildren<QMessageBox*>())
      if (box->isVisible()) shown << box;
    return shown;
  };
  // The start-up lines have told it already: one box for all of them.
  ASSERT_TRUE(QTest::qWaitFor([&] { return boxes().size() == 1; }, 20000));
  EXPECT_EQ(boxes()[0]->text(), QString("Error in opening protocol file"));
  EXPECT_EQ(boxes()[0]->windowTitle(), QString("pelvaron"));
  boxes()[0]->button(QMessageBox::Ok)->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return boxes().isEmpty(); }, 20000));

  int boxesOverTheSheet = -1;
  QTimer atTheSheet;
  QObject::connect(&atTheSheet, &QTimer::timeout, [&] {
    QWidget* sheet = QApplication::activeModalWidget();
    if (!sheet || sheet->objectName() != "programSettingsSheet") return;
    atTheSheet.stop();
    const bool decoded = SendMessageAndWait(4321) && SendMessageAndWait(4322);
    boxesOverTheSheet = decoded ? static_cast<int>(boxes().size()) : -2;
    QMetaObject::invokeMethod(sheet, "reject", Qt::QueuedConnection);
  });
  atTheSheet.start(10);
  Window().triggerCommand(res::ID_PROGRAM_SETTINGS);
  ASSERT_TRUE(QTest::qWaitFor([&] { return boxesOverTheSheet != -1; }, 40000));
  EXPECT_EQ(boxesOverTheSheet, 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return boxes().size() == 1; }, 20000));
  QMessageBox* box = boxes()[0];
  EXPECT_EQ(box->text(), QString("Error in opening protocol file"));
  const QString count = box->informativeText();
  ASSERT_TRUE(count.startsWith("Таких сообщений: ")) << count.toStdString();
  EXPECT_GE(count.section(' ', -1).toInt(), 2);
  EXPECT_EQ(testing::UnreadableTexts(box, {"pelvaron"}), QStringList());

  // Another message waits for this box to close instead of covering it.
  const OperatorMessage other{"Ошибка контрольной суммы!", "Ошибка", MessageIcon::Error};
  shell_->showMessage(other);
  EXPECT_EQ(boxes().size(), 1);
  box->button(QMessageBox::Ok)->click();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return boxes().size() == 1 && boxes()[0]->text() == "Ошибка контрольной суммы!"; }, 20000));
}

}  // namespace
}  // namespace pelvaron
