// The alarm queue and history windows: alone, and with the console against
// the simulated receiver, offscreen.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QTimer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include <atomic>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <map>

#include "alarms/alarm_events.h"
#include "alarms/event_records.h"
#include "alarms/ui/alarm_commands_ui.h"
#include "alarms/ui/alarm_queue_window.h"
#include "alarms/ui/handling_dialogs.h"
#include "alarms/ui/history_window.h"
#include "alarms/ui/report_dialog.h"
#include "app/console_access.h"
#include "app/ui/console_shell.h"
#include "app/ui/console_window.h"
#include "core/cp1251.h"
#include "gui_support.h"
#include "link/fake_serial_port.h"
#include "objects/object_card.h"
#include "platform/real_file_system.h"
#include "platform/system_clock.h"
#include "programs/alarm_windows.h"
#include "programs/real_ports.h"
#include "res/resources.h"
#include "sim/simulator.h"
#include "support/fakes.h"
#include "support/result_support.h"
#include "widgets/dialog_builder.h"
#include "widgets/edits.h"
#include "widgets/focus_frame.h"
#include "widgets/window_place.h"

namespace pelvaron {
namespace {

using ui::AlarmQueueWindow;
using ui::HistoryWindow;

AlarmRow Row(std::uint64_t id, const std::string& title, const std::string& colour, std::int64_t time) {
  AlarmRow row;
  row.entry.id = id;
  row.entry.address = "0012";
  row.entry.text = "Тревога по шлейфам";
  row.entry.firstTime = time;
  row.entry.needsAck = true;
  row.priorityTitle = title;
  row.colour = colour;
  row.comment = "Склад";
  return row;
}

TEST(AlarmQueueWindow, ListsTheViewInItsColoursAndKeepsTheOperatorsChoice) {
  testing::GuiApp();
  AlarmQueueWindow w;
  QSignalSpy asked(&w, &AlarmQueueWindow::acknowledgeRequested);
  AlarmView view;
  view.rows = {Row(5, "Пожар", "#FF4040", 1000), Row(3, "Проникновение", "", 900)};
  view.rows[1].entry.repeats = 4;
  view.sounding = true;
  w.setView(view);
  QTreeWidget* list = w.findChild<QTreeWidget*>("alarmList");
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(list->topLevelItem(0)->text(AlarmQueueWindow::kPriority), QString("Пожар"));
  EXPECT_EQ(list->topLevelItem(0)->text(AlarmQueueWindow::kObject), QString("Склад"));
  EXPECT_EQ(list->topLevelItem(0)->background(0).color(), QColor("#FF4040"));
  EXPECT_EQ(list->topLevelItem(1)->text(AlarmQueueWindow::kRepeats), QString("4"));
  EXPECT_EQ(w.findChild<QLabel*>("alarmSummary")->text(),
            QString("Тревог в очереди: 2 (Пожар: 1, Проникновение: 1) — звучит сигнал, пока их не подтвердят"));
  // Nothing is chosen for the operator; what he chooses a refill keeps, and
  // what he has not chosen yet stands out.
  EXPECT_TRUE(w.selectedIds().empty());
  EXPECT_FALSE(w.findChild<QPushButton*>("acknowledgeButton")->isEnabled());
  list->topLevelItem(1)->setSelected(true);
  EXPECT_FALSE(w.isNew(3));
  EXPECT_TRUE(w.isNew(5));
  EXPECT_TRUE(list->topLevelItem(0)->font(0).bold());
  view.rows.insert(view.rows.begin(), Row(9, "Пожар", "#FF4040", 1100));
  w.setView(view);
  EXPECT_EQ(w.selectedIds(), std::vector<std::uint64_t>{3});
  EXPECT_FALSE(list->topLevelItem(2)->font(0).bold());

  // When the sound fails the header says so, and no longer that it sounds.
  w.setSoundWarning("Звук тревоги не работает: нет устройства.", true);
  EXPECT_TRUE(w.findChild<QLabel*>("soundWarning")->isVisibleTo(&w));
  EXPECT_EQ(w.findChild<QLabel*>("alarmSummary")->text().indexOf("звучит"), -1);
  w.setSoundWarning("Звук тревоги снова работает.", false);
  EXPECT_NE(w.findChild<QLabel*>("alarmSummary")->text().indexOf("звучит"), -1);

  w.findChild<QLineEdit*>("noteEdit")->setText("  выезд  ");
  w.findChild<QPushButton*>("acknowledgeButton")->click();
  w.findChild<QPushButton*>("acknowledgeAllButton")->click();
  ASSERT_EQ(asked.count(), 2);
  EXPECT_EQ(asked[0][0].value<std::vector<std::uint64_t>>(), std::vector<std::uint64_t>{3});
  EXPECT_EQ(asked[0][1].toString(), QString("выезд"));
  EXPECT_EQ(asked[1][0].value<std::vector<std::uint64_t>>(), (std::vector<std::uint64_t>{9, 5, 3}));
  EXPECT_TRUE(asked[1][2].toBool());

  // A character the protocol file cannot hold never gets into the note.
  QLineEdit* note = w.findChild<QLineEdit*>("noteEdit");
  note->clear();
  note->setFocus();
  for (QChar c : QString::fromUtf8("ok\xCE\xA9")) {  // omega has no place in Windows-1251
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(note, &press);
  }
  EXPECT_EQ(note->text(), QString("ok"));

  w.setView(AlarmView{});
  EXPECT_FALSE(w.findChild<QPushButton*>("acknowledgeAllButton")->isEnabled());
  EXPECT_EQ(AlarmQueueWindow::AgeText(59), QString("59 с"));
  EXPECT_EQ(AlarmQueueWindow::AgeText(3 * 60 + 5), QString("3 мин 05 с"));
  EXPECT_EQ(AlarmQueueWindow::AgeText(2 * 3600 + 10 * 60), QString("2 ч 10 мин"));
  EXPECT_EQ(AlarmQueueWindow::AgeText(3 * 86400 + 4 * 3600), QString("3 д 4 ч"));
}

TEST(AlarmQueueWindow, AtItsFirstSizeALongEventTextHidesNoOtherColumn) {
  testing::GuiApp();
  AlarmQueueWindow w;
  AlarmView view;
  view.rows = {Row(5, "Проникновение", "", 1000)};
  view.rows[0].entry.text = "Неисправность: низкое напряжение батареи радиопередатчика, зона 12, раздел 3";
  view.rows[0].entry.restored = true;
  view.rows[0].entry.repeats = 12;
  view.rows[0].comment = "Склад готовой продукции, корпус 2, ворота со стороны реки";
  w.setView(view);
  w.show();
  QHeaderView* header = w.list()->header();
  const int visible = w.list()->viewport()->width();
  for (int c : {AlarmQueueWindow::kRepeats, AlarmQueueWindow::kAge, AlarmQueueWindow::kState}) {
    EXPECT_LE(header->sectionViewportPosition(c) + header->sectionSize(c), visible)
        << header->model()->headerData(c, Qt::Horizontal).toString().toStdString();
  }
  // And the event's first word is seen.
  EXPECT_LE(header->sectionViewportPosition(AlarmQueueWindow::kEvent) +
                w.list()->fontMetrics().horizontalAdvance(QStringLiteral("Неисправность:")),
            visible);
}

// A host without a thread: calls run at once on a console of fakes, the
// answer to a question is yes, and something may happen while it is asked.
class ImmediateHost : public ui::CommandHost {
 public:
  void post(Call call) override { call(); }
  void showMessage(const OperatorMessage&, QWidget*) override {}
  void showMessageAndWait(const OperatorMessage&, QWidget*) override {}
  bool ask(const OperatorMessage& question, QWidget*, bool defaultYes) override {
    asked.push_back({question.text, defaultYes});
    if (whileAsked) whileAsked();
    return true;
  }
  QWidget* dialogOwner() override { return nullptr; }
  bool beginSettingsCommand() override { return true; }
  void endSettingsCommand() override {}
  void beginExchange() override {}
  void endExchange() override {}

  std::function<void()> whileAsked;
  std::vector<std::pair<std::string, bool>> asked;  // each question, and whether Yes was its default
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

 protected:
  void postAndReturn(Call work, std::function<void()> back) override {
    work();
    back();
  }
};

// The queue's window and a desk with no console thread between them.
class AlarmCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::GuiApp();
    commands.attach(desk, "events.sqlite");
  }
  // An alarm reaches the desk, and the window hears of it.
  void Alarm(int address, int code, std::uint64_t seq) {
    desk.Publish(testing::ContactId(address, code, true, 1, seq));
    QCoreApplication::processEvents();
  }
  int Rows() { return commands.queueWindow()->list()->topLevelItemCount(); }
  // The addresses of the alarms nobody has acknowledged, in the queue's order.
  std::vector<std::string> Waiting() {
    std::vector<std::string> addresses;
    for (const AlarmEntry& e : desk.queue().Sorted()) {
      if (!e.acknowledged) addresses.push_back(e.address);
    }
    return addresses;
  }

  QApplication& app{testing::GuiApp()};  // before the windows' commands, which watch its keys
  AlarmDesk desk{PriorityTable::Defaults()};
  ImmediateHost host;
  ui::AlarmCommandsUi commands{host};
};

TEST_F(AlarmCommandsTest, ReportsOpenOneDialogThatLeavesTheOtherWindowsFree) {
  commands.onReports();
  ui::ReportDialog* d = commands.reportDialog();
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(d->isVisible());
  EXPECT_FALSE(d->isModal());
  commands.onReports();
  EXPECT_EQ(commands.reportDialog(), d);
}

TEST_F(AlarmCommandsTest, AcknowledgingAllTakesTheAlarmsOnScreenNotOneThatCameWhileAsked) {
  Alarm(301, 130, 1);
  Alarm(302, 130, 2);
  Alarm(304, 110, 4);
  commands.onAlarmQueue();
  ASSERT_EQ(Rows(), 3);
  host.whileAsked = [this] { Alarm(303, 110, 3); };  // a fire while the question box is open
  commands.queueWindow()->findChild<QPushButton*>("acknowledgeAllButton")->click();
  EXPECT_EQ(Waiting(), std::vector<std::string>{"0303"});
  ASSERT_EQ(host.asked.size(), 1u);
  EXPECT_EQ(host.asked[0].first, "Подтвердить все тревоги в очереди (3)?\n\nПожар: 1, Проникновение: 2");
  EXPECT_FALSE(host.asked[0].second) << "\"Нет\" is the default";
}

// The night-shift faults: the keyboard left "Подтвердить" at a refill, the
// top row was chosen for the operator, "Подтвердить все" took a stray Space.
TEST_F(AlarmCommandsTest, OnlyTheAlarmTheOperatorChoseIsAcknowledgedAndSpaceAfterwardsAcknowledgesNothing) {
  Alarm(302, 130, 1);
  Alarm(303, 130, 2);
  commands.onAlarmQueue();
  AlarmQueueWindow* w = commands.queueWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w));
  EXPECT_TRUE(w->selectedIds().empty()) << "nothing is chosen for the operator";
  // He chooses the burglary at 0303 and goes to "Подтвердить"; a fire comes meanwhile.
  QTreeWidget* list = w->list();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->topLevelItem(1)).center());
  ASSERT_EQ(w->selectedIds(), std::vector<std::uint64_t>{2});
  auto* acknowledge = w->findChild<QPushButton*>("acknowledgeButton");
  acknowledge->setFocus();
  Alarm(301, 110, 3);
  ASSERT_EQ(Rows(), 3);
  EXPECT_EQ(QApplication::focusWidget(), acknowledge) << "the refill keeps the keyboard where it was";
  EXPECT_EQ(w->selectedIds(), std::vector<std::uint64_t>{2});
  EXPECT_TRUE(w->isNew(3)) << "the fire stands out, unchosen";
  QTest::keyClick(acknowledge, Qt::Key_Space);
  QCoreApplication::processEvents();
  EXPECT_TRUE(desk.queue().Find(2)->acknowledged) << "the burglary he chose";
  EXPECT_FALSE(desk.queue().Find(3)->acknowledged) << "the fire waits";
  EXPECT_EQ(Waiting().size(), 2u);
  for (int i = 0; i < 2; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QCoreApplication::processEvents();
  }
  EXPECT_EQ(Waiting().size(), 2u) << "two more Spaces acknowledge nothing";
  EXPECT_TRUE(host.asked.empty());
  for (QPushButton* button : w->findChildren<QPushButton*>()) {
    EXPECT_FALSE(button->isDefault() || button->autoDefault()) << button->text().toStdString();
  }
}

TEST_F(AlarmCommandsTest, F9FromAnyWindowBringsTheQueueWithTheKeyboardOnTheOldestHighestAlarmAndEscClosesIt) {
  Alarm(302, 130, 1);
  Alarm(301, 110, 2);
  Alarm(305, 110, 3);
  QWidget other;
  auto* edit = new QLineEdit(&other);
  other.show();
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
  QTest::keyClick(edit, Qt::Key_F9);
  AlarmQueueWindow* w = commands.queueWindow();
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowActive(w));
  EXPECT_EQ(QApplication::focusWidget(), w->list());
  EXPECT_EQ(w->selectedIds(), std::vector<std::uint64_t>{2}) << "the older fire";
  EXPECT_TRUE(edit->text().isEmpty());
  QTest::keyClick(w->list(), Qt::Key_Escape);
  EXPECT_FALSE(w->isVisible());
}

// Two controls of one window under one Alt+letter: Qt moves between them and
// presses neither, so a keyboard-only operator is stuck.
TEST_F(AlarmCommandsTest, NoTwoControlsOfAHandlingWindowShareAnAltLetter) {
  Alarm(301, 110, 1);
  commands.onAlarmQueue();
  ui::AlarmActionDialog action("№1", {"Сидоров (директор), +7 900 000-00-00"});
  ui::CloseAlarmDialog close("№1");
  for (QWidget* window : std::initializer_list<QWidget*>{commands.queueWindow(), &action, &close}) {
    std::map<QChar, QString> taken;
    auto take = [&](const QString& text) {
      const QKeySequence key = QKeySequence::mnemonic(text);
      if (key.isEmpty()) return;
      const QChar letter = text.at(text.indexOf('&') + 1).toUpper();
      EXPECT_TRUE(taken.emplace(letter, text).second)
          << window->objectName().toStdString() << ": " << text.toStdString() << " and "
          << taken[letter].toStdString();
    };
    for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) take(b->text());
    for (QLabel* l : window->findChildren<QLabel*>()) {
      if (l->buddy() != nullptr) take(l->text());
    }
  }
}

// The whole handling by keyboard: F9, acknowledge, an action, a close. A
// stray Return never closes, and a close needs an outcome.
TEST_F(AlarmCommandsTest, TheFirstAlarmIsAcknowledgedGivenAnActionAndClosedByKeyboardAlone) {
  Alarm(302, 130, 1);
  Alarm(301, 110, 2);
  QWidget other;
  auto* edit = new QLineEdit(&other);
  other.show();
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
  // Where the keyboard is: the focused widget, else the window on top.
  auto target = [] {
    QWidget* w = QApplication::focusWidget();
    if (w == nullptr) w = QApplication::activeModalWidget();
    return w != nullptr ? w : QApplication::activeWindow();
  };
  auto key = [target](int k, Qt::KeyboardModifiers m = Qt::NoModifier) {
    QTest::keyClick(target(), static_cast<Qt::Key>(k), m);
    QCoreApplication::processEvents();
  };
  // Alt and a Cyrillic letter, as a Russian keyboard sends it.
  auto mnemonic = [target](char16_t letter) {
    const QChar c(letter);
    QTest::sendKeyEvent(QTest::Click, target(), static_cast<Qt::Key>(c.toUpper().unicode()),
                        QString(c), Qt::AltModifier);
    QCoreApplication::processEvents();
  };
  // f, once a modal dialog is up: a mnemonic clicks its button a moment later.
  auto whenModal = [this](std::function<void(QWidget*)> f) {
    auto* poll = new QTimer(&app);
    QObject::connect(poll, &QTimer::timeout, [poll, f] {
      if (QWidget* dialog = QApplication::activeModalWidget()) {
        poll->deleteLater();
        poll->stop();
        f(dialog);
      }
    });
    poll->start(10);
  };
  // Tabs until the keyboard is on the named button (a handful at most).
  auto tabTo = [&](const char* name) {
    for (int i = 0; i < 8 && target()->objectName() != QLatin1String(name); ++i) key(Qt::Key_Tab);
    return target()->objectName() == QLatin1String(name);
  };
  QTest::keyClick(edit, Qt::Key_F9);
  AlarmQueueWindow* w = commands.queueWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w));
  ASSERT_TRUE(tabTo("acknowledgeButton"));
  key(Qt::Key_Space);
  ASSERT_TRUE(desk.queue().Find(2)->acknowledged) << "the fire, chosen by F9";
  EXPECT_EQ(Waiting(), std::vector<std::string>{"0302"});

  // Alt+Д: "Действие…" on the chosen alarm; the second action, guard sent, recorded.
  bool recorded = false;
  whenModal([&](QWidget* dialog) {
    ASSERT_EQ(dialog->objectName(), QString("alarmActionDialog"));
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
    QTest::keyClick(dialog->findChild<QComboBox*>("actionBox"), Qt::Key_Down);
    recorded = tabTo("recordButton");
    key(Qt::Key_Space);
  });
  mnemonic(u'д');
  ASSERT_TRUE(QTest::qWaitFor([&] { return recorded && !QApplication::activeModalWidget(); }, 5000));
  ASSERT_EQ(desk.queue().Find(2)->actions.size(), 1u);
  EXPECT_EQ(desk.queue().Find(2)->actions[0].code, "guard-sent");

  // The window system gives the queue the keyboard back (offscreen, by hand).
  if (!w->isActiveWindow()) w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w));
  // Alt+З: Return does nothing, nor does the close button before an outcome; 1 is a real alarm.
  bool refusedWithoutOutcome = false, stillOpenAfterReturn = false, closing = false;
  whenModal([&](QWidget* dialog) {
    ASSERT_EQ(dialog->objectName(), QString("closeAlarmDialog"));
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
    refusedWithoutOutcome = !dialog->findChild<QPushButton*>("closeButton")->isEnabled();
    key(Qt::Key_Return);
    key(Qt::Key_1);
    key(Qt::Key_Return);
    stillOpenAfterReturn = dialog->isVisible();
    // Alt+З: "Закрыть тревогу" of the dialog, not "Закрыть…" of the queue behind it.
    closing = true;
    mnemonic(u'з');
  });
  mnemonic(u'з');
  ASSERT_TRUE(QTest::qWaitFor([&] { return closing && !QApplication::activeModalWidget(); }, 5000));
  EXPECT_TRUE(refusedWithoutOutcome);
  EXPECT_TRUE(stillOpenAfterReturn);
  EXPECT_EQ(desk.queue().Find(2), nullptr) << "closed";
  EXPECT_EQ(Waiting(), std::vector<std::string>{"0302"}) << "the burglary still waits";
}

TEST_F(AlarmCommandsTest, ANewHigherAlarmIsScrolledIntoSightWithoutMovingTheChoice) {
  for (int i = 0; i < 40; ++i) Alarm(400 + i, 130, 10 + i);
  commands.onAlarmQueue();
  AlarmQueueWindow* w = commands.queueWindow();
  QTreeWidget* list = w->list();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
  QTreeWidgetItem* last = list->topLevelItem(39);
  list->scrollToItem(last);
  last->setSelected(true);
  const std::uint64_t firstInSight = list->itemAt(0, 0)->data(0, Qt::UserRole).toULongLong();
  ASSERT_NE(firstInSight, 10u) << "scrolled";
  // A burglary more: below, nothing moves.
  Alarm(500, 130, 60);
  EXPECT_EQ(list->itemAt(0, 0)->data(0, Qt::UserRole).toULongLong(), firstInSight);
  // A fire: on top, brought into sight; the choice stays.
  Alarm(501, 110, 61);
  EXPECT_EQ(list->itemAt(0, 0)->data(0, Qt::UserRole).toULongLong(), 61u);
  EXPECT_EQ(w->selectedIds(), std::vector<std::uint64_t>{49});
  EXPECT_NE(w->findChild<QLabel*>("alarmSummary")->text().indexOf("Пожар: 1, Проникновение: 41"), -1);
}

TEST(QueuePlacement, BesideTheMainWindowInsideTheScreenNeverOverTheStatusStrip) {
  const QMargins frame(4, 28, 4, 4);
  const QSize wanted(1000, 480), least(560, 220);
  struct Case {
    const char* name;
    QRect screen, main, strip;
  } cases[] = {
      // The operator's 1280x1024: no room beside, so above the strip.
      {"centred", QRect(0, 0, 1280, 1024), QRect(301, 232, 680, 600), QRect(312, 760, 660, 34)},
      {"left, room on the right", QRect(0, 0, 1920, 1080), QRect(0, 0, 680, 600), QRect(10, 530, 660, 34)},
      {"right, room on the left", QRect(0, 0, 1920, 1080), QRect(1240, 100, 680, 600), QRect(1250, 630, 660, 34)},
      {"strip at the top of a small screen", QRect(0, 0, 800, 600), QRect(0, -500, 680, 600), QRect(10, 60, 660, 34)},
      {"a panel takes the screen's foot", QRect(0, 0, 1280, 990), QRect(300, 400, 680, 600), QRect(310, 930, 660, 34)},
  };
  for (const Case& c : cases) {
    const QRect inside = ui::PlaceBeside(wanted, least, frame, c.screen, c.main, c.strip);
    const QRect outside = inside.marginsAdded(frame);
    EXPECT_TRUE(c.screen.contains(outside)) << c.name;
    EXPECT_FALSE(outside.intersects(c.strip)) << c.name;
    EXPECT_GE(inside.width(), least.width()) << c.name;
    EXPECT_GE(inside.height(), least.height()) << c.name;
  }
}

TEST_F(AlarmCommandsTest, ANewAlarmComesToTheFrontWithoutTakingTheKeysOfAnotherWindow) {
  Alarm(302, 130, 1);
  commands.onAlarmQueue();
  AlarmQueueWindow* w = commands.queueWindow();
  QLineEdit* note = w->noteEdit();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w));
  note->setFocus();
  QTest::keyClick(note, Qt::Key_Return);
  EXPECT_EQ(desk.queue().size(), 1u) << "only the button acknowledges";
  for (QPushButton* button : w->findChildren<QPushButton*>()) EXPECT_FALSE(button->isDefault());

  QWidget other;
  auto* edit = new QLineEdit(&other);
  other.show();
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
  edit->setFocus();
  Alarm(301, 110, 2);  // a fire
  ASSERT_EQ(Rows(), 2);
  QCoreApplication::processEvents();
  EXPECT_EQ(QApplication::focusWidget(), edit);
  EXPECT_TRUE(w->isVisible());
}

TEST(AlarmsMenu, ComesAfterPropertiesAndLeavesTheOtherMenusAsTheyWere) {
  testing::GuiApp();
  ui::CConsoleDlg console(nullptr, ui::BaseUnits{6, 13});
  QList<QAction*> top = console.mainMenuBar()->actions();
  ASSERT_EQ(top.size(), 3);
  EXPECT_EQ(top[0]->text(), QString("Файл"));
  EXPECT_EQ(top[1]->text(), QString("Свойства"));
  EXPECT_EQ(top[2]->text(), QString("Тревоги"));
  QList<QAction*> items = top[2]->menu()->actions();
  ASSERT_EQ(items.size(), 3);
  EXPECT_EQ(items[0]->text(), QString("Очередь тревог\tF9"));
  EXPECT_EQ(items[1]->text(), QString("История событий"));
  EXPECT_EQ(items[2]->text(), QString("Отчёты…"));
  QSignalSpy queue(&console, &ui::CConsoleDlg::alarmQueueRequested);
  QSignalSpy history(&console, &ui::CConsoleDlg::eventHistoryRequested);
  QSignalSpy reports(&console, &ui::CConsoleDlg::reportsRequested);
  QSignalSpy objects(&console, &ui::CConsoleDlg::objectCommand);
  for (QAction* item : items) item->trigger();
  EXPECT_EQ(queue.count(), 1);
  EXPECT_EQ(history.count(), 1);
  EXPECT_EQ(reports.count(), 1);
  EXPECT_EQ(objects.count(), 0) << "not taken for an object command";
}

class StoreFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::GuiApp();
    ASSERT_FALSE(folder_.Path().empty());
  }
  testing::WorkFolder folder_{"pelvaron-alarms-gui"};
};

TEST_F(StoreFolderTest, TheHistoryWindowFindsSeededEventsAndExportsThem) {
  const std::int64_t noon = QDateTime(QDate::currentDate(), QTime(12, 0)).toSecsSinceEpoch();
  {
    EventStore store;
    ASSERT_TRUE(testing::Succeeded(store.Open("events.sqlite", EventStore::Mode::ReadWrite)));
    auto add = [&](std::uint64_t seq, std::int64_t time, const char* address, const char* text, StoredClass c) {
      Event e;
      e.seq = seq;
      e.time = time;
      e.timeText = "t" + std::to_string(seq);
      e.address = address;
      e.text = text;
      ASSERT_TRUE(testing::Succeeded(store.Insert(e, c)));
    };
    add(1, noon - 86400, "0012", "Тревога по шлейфам", {"burglary", 1, "l"});
    add(2, noon, "0012", "Тревога по шлейфам", {"burglary", 1, "l"});
    add(3, noon + 60, "0301", "Пожарная тревога: дымовой извещатель, зона 3, раздел 1, второй этаж", {"fire", 1, "c"});
    add(4, noon + 120, "0012", "Контрольное извещение", {"information", 0, ""});
  }
  HistoryWindow w("events.sqlite", PriorityTable::Defaults());
  w.show();
  QSignalSpy done(&w, &HistoryWindow::searchFinished);
  // Enter in a date searches, as in every filter.
  QTest::keyClick(w.findChild<QWidget*>("fromEdit"), Qt::Key_Return);
  ASSERT_TRUE(done.wait(20000));
  EXPECT_EQ(done.last()[0].toInt(), 3) << "today's";
  QTreeWidget* list = w.findChild<QTreeWidget*>("historyList");
  EXPECT_EQ(list->topLevelItem(0)->text(0), QString("4"));
  EXPECT_EQ(list->topLevelItem(1)->text(3), QString("Пожар"));
  EXPECT_EQ(list->topLevelItem(2)->text(5), QString("не подтверждена"));
  EXPECT_GT(list->header()->sectionSize(4), list->fontMetrics().horizontalAdvance(list->topLevelItem(1)->text(4)))
      << "the event's text is whole";
  EXPECT_FALSE(w.findChild<QPushButton*>("searchButton")->isDefault());

  w.findChild<QLineEdit*>("addressEdit")->setText("12");
  auto* priority = w.findChild<QComboBox*>("priorityBox");
  priority->setCurrentIndex(priority->findText("Проникновение"));
  w.findChild<QPushButton*>("searchButton")->click();
  ASSERT_TRUE(done.wait(20000));
  ASSERT_EQ(list->topLevelItemCount(), 1);
  EXPECT_EQ(list->topLevelItem(0)->text(0), QString("2"));

  ASSERT_TRUE(w.exportCsv("export.csv"));
  std::ifstream in("export.csv", std::ios::binary);
  const std::string csv(std::istreambuf_iterator<char>(in), {});
  const std::string noonText = QDate::currentDate().toString("dd.MM.yyyy").toStdString() + " 12:00:00";
  EXPECT_EQ(csv, "\xEF\xBB\xBF№;Время;Адрес;Приоритет;Событие;Подтверждение;Примечание\r\n"
                 "2;" + noonText + ";=\"0012\";Проникновение;Тревога по шлейфам;не подтверждена;\r\n");
  EXPECT_EQ(list->topLevelItem(0)->text(1).toStdString(), noonText) << "the time as every window shows it";
  EXPECT_FALSE(w.exportCsv("no-such-folder/export.csv"));

  // The filters a few Tabs apart, the dates typed digit by digit; Esc closes.
  w.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  auto* from = w.findChild<QDateTimeEdit*>("fromEdit");
  from->setFocus(Qt::TabFocusReason);
  QTest::keyClicks(from, "01122026083000");
  EXPECT_EQ(from->dateTime(), QDateTime(QDate(2026, 12, 1), QTime(8, 30)));
  QTest::keyClick(from, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget()->objectName(), QString("toEdit"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget()->objectName(), QString("addressEdit"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  EXPECT_FALSE(w.isVisible());
}

// The whole way: the receiver sends alarms, the window comes to the front and
// sounds, the operator acknowledges, and finds them again in the history.
class AlarmShellTest : public StoreFolderTest {
 protected:
  void SetUp() override {
    StoreFolderTest::SetUp();
    std::string error;
    simulator_ = sim::Simulator::OnNewPty({}, &error);
    ASSERT_TRUE(simulator_) << error;
    simulator_->Start();
    ASSERT_EQ(options_.devices.Add("COM1=" + simulator_->DevicePath()), "");
    EventRecords::Settings settings;
    settings.soundOverride = [this] { ++sounds_; };
    records_ = std::make_unique<EventRecords>(files_, clock_, settings);
    ConsoleHooks hooks = records_->Hooks();
    hooks.afterTick = [this, tick = hooks.afterTick](Console& console) {
      tick(console);
      consoleTime_ = console.timeNow;
    };
    shell_ = std::make_unique<ui::WindowShell>("pelvaron", options_, RealPorts, nullptr, hooks);
    shell_->messageHook = [this](const OperatorMessage& m) { messages_.push_back(m); };
    shell_->questionHook = [](const OperatorMessage&) { return true; };
    alarms_ = std::make_unique<ui::AlarmCommandsUi>(*shell_);
    alarms_->attach(records_->desk(), "events.sqlite");
    JoinAlarmWindows(*shell_, *alarms_);
  }
  void Start() { shell_->start(); }
  ui::AlarmCommandsUi& Alarms() { return *alarms_; }
  void TearDown() override {
    shell_.reset();
    alarms_.reset();
    records_.reset();
    if (simulator_) simulator_->Stop();
    StoreFolderTest::TearDown();
  }
  std::string Protocol() {
    std::ifstream in("protocol.txt", std::ios::binary);
    return Cp1251ToUtf8(std::string(std::istreambuf_iterator<char>(in), {}));
  }
  QTreeWidget* QueueList() {
    AlarmQueueWindow* w = Alarms().queueWindow();
    return w ? w->list() : nullptr;
  }

  RealFileSystem files_;
  SystemClock clock_;
  Options options_;
  std::unique_ptr<sim::Simulator> simulator_;
  std::unique_ptr<EventRecords> records_;
  std::unique_ptr<ui::WindowShell> shell_;
  std::unique_ptr<ui::AlarmCommandsUi> alarms_;  // as the program has them: beside the shell, outliving it
  std::vector<OperatorMessage> messages_;
  std::atomic<int> sounds_{0};
  std::atomic<std::int64_t> consoleTime_{0};
};

TEST_F(AlarmShellTest, AFireAlarmComesFirstSoundsUntilAcknowledgedAndIsFoundInTheHistory) {
  Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return shell_->window().bLinkOk == 1; }, 20000));
  ASSERT_TRUE(simulator_->Apply("contact-id addr=302 code=130 zone=2 new"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return QueueList() && QueueList()->topLevelItemCount() == 1; }, 20000));
  ASSERT_TRUE(simulator_->Apply("contact-id addr=301 code=110 zone=3 new"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return QueueList()->topLevelItemCount() == 2; }, 20000));
  AlarmQueueWindow* w = Alarms().queueWindow();
  EXPECT_TRUE(w->isVisible()) << "came to the front by itself";
  EXPECT_EQ(QueueList()->topLevelItem(0)->text(AlarmQueueWindow::kPriority), QString("Пожар"));
  EXPECT_EQ(QueueList()->topLevelItem(0)->text(AlarmQueueWindow::kAddress), QString("0301"));
  EXPECT_EQ(QueueList()->topLevelItem(1)->text(AlarmQueueWindow::kEvent), QString("Охранная тревога"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return sounds_ > 0; }, 20000));
  EXPECT_TRUE(w->sounding());

  w->findChild<QLineEdit*>("noteEdit")->setText("проверено");
  QueueList()->topLevelItem(0)->setSelected(true);  // the operator chooses the fire
  w->findChild<QPushButton*>("acknowledgeButton")->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w->waitingCount() == 1; }, 20000));
  EXPECT_EQ(QueueList()->topLevelItem(0)->text(AlarmQueueWindow::kAddress), QString("0302")) << "waiting, first";
  w->findChild<QPushButton*>("acknowledgeAllButton")->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w->waitingCount() == 0; }, 20000));
  EXPECT_EQ(QueueList()->topLevelItemCount(), 2) << "in hand until closed";
  EXPECT_FALSE(w->sounding());

  // Silent from now on: no sound in the ticks of the next four seconds.
  const int soundsAtAck = sounds_;
  const std::int64_t ackTime = consoleTime_;
  ASSERT_TRUE(QTest::qWaitFor([&] { return consoleTime_ >= ackTime + 4; }, 20000));
  EXPECT_EQ(sounds_, soundsAtAck);

  const std::string protocol = Protocol();
  EXPECT_NE(protocol.find(", объект '0301'\r\n    Пожарная тревога\r\n    Примечание: проверено\r\n"),
            std::string::npos)
      << protocol;
  EXPECT_NE(protocol.find(", объект '0302'\r\n    Охранная тревога\r\n"), std::string::npos);

  shell_->window().triggerCommand(res::ID_EVENT_HISTORY);
  HistoryWindow* history = Alarms().historyWindow();
  ASSERT_NE(history, nullptr);
  EXPECT_TRUE(history->isVisible());
  history->findChild<QLineEdit*>("addressEdit")->setText("0301");
  auto acknowledgedFire = [&] {
    for (const StoredEvent& e : history->results()) {
      if (e.cls.priority == "fire" && e.acknowledged && e.ackNote == "проверено") return true;
    }
    if (!history->searching()) history->search();
    return false;
  };
  EXPECT_TRUE(QTest::qWaitFor(acknowledgedFire, 20000));
  EXPECT_TRUE(messages_.empty()) << messages_.front().text;
}

// Real boxes: none keeps the operator from the queue, and a stray Return in
// the question of "Подтвердить все" acknowledges nothing.
TEST_F(AlarmShellTest, NoBoxBlocksTheQueueAndAStrayReturnAcknowledgesNothing) {
  shell_->messageHook = nullptr;
  shell_->questionHook = nullptr;
  Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return shell_->window().bLinkOk == 1; }, 20000));
  auto alarm = [&](int address) {
    const int rows = QueueList() ? QueueList()->topLevelItemCount() : 0;
    ASSERT_TRUE(simulator_->Apply("contact-id addr=" + std::to_string(address) + " code=130 zone=2 new"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return QueueList() && QueueList()->topLevelItemCount() == rows + 1; }, 20000));
  };
  // Clicks as the window system delivers them, where a modal window blocks those it covers.
  auto click = [](QWidget* widget, QPoint at) {
    QWidget* window = widget->window();
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, widget->mapTo(window, at));
  };
  auto acknowledgeTopByMouse = [&] {
    QTreeWidget* list = QueueList();
    AlarmQueueWindow* w = Alarms().queueWindow();
    const int waiting = w->waitingCount();
    click(list->viewport(), list->visualItemRect(list->topLevelItem(0)).center());
    auto* button = w->findChild<QPushButton*>("acknowledgeButton");
    click(button, button->rect().center());
    return QTest::qWaitFor([&] { return w->waitingCount() == waiting - 1; }, 20000);
  };
  auto boxOf = [](const QString& text) -> QMessageBox* {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (box && box->isVisible() && box->text().startsWith(text)) return box;
    }
    return nullptr;
  };

  // While an alarm waits, a message is a notice that blocks nothing and takes no key.
  alarm(302);
  QWidget* focus = QApplication::focusWidget();
  shell_->showMessage({"Порт COM1 потерян", "", MessageIcon::Error});
  QMessageBox* notice = boxOf("Порт COM1 потерян");
  ASSERT_NE(notice, nullptr);
  EXPECT_EQ(notice->windowModality(), Qt::NonModal);
  EXPECT_EQ(QApplication::focusWidget(), focus);
  ASSERT_TRUE(acknowledgeTopByMouse());
  notice->accept();

  // With none waiting, the box is the main window's as before, and the queue still takes a click.
  shell_->showMessage({"Файл протокола не открывается", "", MessageIcon::Error});
  QMessageBox* box = boxOf("Файл протокола не открывается");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->windowModality(), Qt::WindowModal);
  alarm(303);
  ASSERT_TRUE(acknowledgeTopByMouse()) << "the box over the main window blocks not the queue";

  // "Подтвердить все" answered by a Return that was not aimed at "Да".
  alarm(304);
  QTimer::singleShot(0, [&] {
    if (QMessageBox* question = boxOf("Подтвердить все тревоги в очереди (1)?")) {
      QTest::keyClick(question, Qt::Key_Return);
    }
  });
  Alarms().queueWindow()->findChild<QPushButton*>("acknowledgeAllButton")->click();
  alarm(305);  // seen after whatever the answer posted
  EXPECT_EQ(Alarms().queueWindow()->waitingCount(), 2);
  box->accept();
}

TEST_F(AlarmShellTest, AnAlarmWaitingFromBeforeARestartOpensTheQueueAtStartClearOfTheStatusStrip) {
  {
    EventStore store;
    ASSERT_TRUE(testing::Succeeded(store.Open("events.sqlite", EventStore::Mode::ReadWrite)));
    const Event fire = testing::ContactId(301, 110, true, 3, 1, QDateTime::currentSecsSinceEpoch() - 60);
    ASSERT_TRUE(testing::Succeeded(store.Insert(fire, {"fire", 1, "cid:110:01:003"})));
  }
  Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return QueueList() && QueueList()->topLevelItemCount() == 1; }, 20000));
  AlarmQueueWindow* queue = Alarms().queueWindow();
  EXPECT_TRUE(queue->isVisible());
  QWidget* main = shell_->dialogOwner();
  const QRect screen = main->screen()->availableGeometry();
  ASSERT_TRUE(QTest::qWaitFor([&] { return screen.contains(queue->frameGeometry()); }, 5000))
      << "placed inside the screen, also where the main window is not yet shown";

  // The window manager puts the main window, late, where the queue stands:
  // the queue moves off its status strip; once the operator has moved the
  // queue, it stays where he put it.
  const auto hidesStrip = [&] { return queue->frameGeometry().intersects(shell_->window().statusStripOnScreen()); };
  main->move(queue->x(), queue->y() + queue->height() - main->height() / 2);
  QCoreApplication::processEvents();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !hidesStrip(); }, 2000));
  EXPECT_TRUE(screen.contains(queue->frameGeometry()));
  queue->move(queue->x() + 5, queue->y());
  const QPoint mine = queue->pos();
  main->move(queue->x(), queue->y() + queue->height() - main->height() / 2);
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();  // the placing is queued behind the move
  EXPECT_EQ(queue->pos(), mine);
}

}  // namespace
}  // namespace pelvaron
