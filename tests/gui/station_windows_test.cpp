// Operators signing in over the running console, and response plans beside
// the alarm queue and in their dialog, offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "alarms/alarm_events.h"
#include "alarms/event_records.h"
#include "alarms/ui/alarm_commands_ui.h"
#include "alarms/ui/alarm_queue_window.h"
#include "alarms/ui/handling_dialogs.h"
#include "app/ui/console_shell.h"
#include "app/ui/console_window.h"
#include "core/cp1251.h"
#include "gui_support.h"
#include "platform/real_file_system.h"
#include "platform/system_clock.h"
#include "programs/alarm_windows.h"
#include "programs/real_ports.h"
#include "sim/simulator.h"
#include "station/station_checks.h"
#include "station/station_store.h"
#include "station/ui/operators_dialog.h"
#include "station/ui/plan_dialog.h"
#include "station/ui/plan_panel.h"
#include "station/ui/sign_in_dialog.h"
#include "station/ui/station_commands_ui.h"
#include "support/result_support.h"
#include "widgets/qt_texts.h"

namespace pelvaron {
namespace {

using ui::AlarmQueueWindow;
using ui::StationCommandsUi;

constexpr int kWaitMs = 20000;

// Анна is senior (1111), Борис is not (2222); 0301 has its own plan, a
// burglary anywhere else the default one, a fire elsewhere none.
void SeedStation() {
  StationStore store;
  ASSERT_TRUE(testing::Succeeded(store.Open(kStationStoreFileName, StationStore::Mode::ReadWrite)));
  ASSERT_TRUE(testing::Succeeded(store.AddOperator("Анна", "1111", true)));
  ASSERT_TRUE(testing::Succeeded(store.AddOperator("Борис", "2222", false)));
  ASSERT_TRUE(testing::Succeeded(store.SavePlan(
      {"0301", "", "Проверить шлейф 3.\nВызвать пожарную охрану.",
       {{"Иванов И.И.", "директор", {"+7 900 111-22-33", "+7 900 111-22-44"}}, {"Петров П.П.", "", {"8 812 555-00-00"}}},
       "ГБР-3", "+7 812 555-10-10"})));
  ASSERT_TRUE(testing::Succeeded(
      store.SavePlan({"", "burglary", "Выслать группу.", {}, "ГБР-1", "+7 812 555-20-20"})));
}

// What a window shows in a label, by its object name.
QString LabelText(QWidget* w, const char* name) {
  auto* label = w->findChild<QLabel*>(name);
  return label != nullptr ? label->text() : QString();
}

// A host without a thread: posted calls run at once, messages are kept.
class PlainHost : public ui::CommandHost {
 public:
  void post(Call call) override { call(); }
  void showMessage(const OperatorMessage& m, QWidget*) override { messages.push_back(m.text); }
  void showMessageAndWait(const OperatorMessage& m, QWidget*) override { messages.push_back(m.text); }
  bool ask(const OperatorMessage&, QWidget*, bool) override { return true; }
  QWidget* dialogOwner() override { return nullptr; }
  bool beginSettingsCommand() override { return true; }
  void endSettingsCommand() override {}
  void beginExchange() override {}
  void endExchange() override {}
  std::vector<std::string> messages;

 protected:
  void postAndReturn(Call work, std::function<void()> back) override {
    work();
    back();
  }
};

// The queue's window and the station's commands over a desk without a console.
class StationDeskTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(folder_.Path().empty()); }
  void Start() {
    commands_.attach(desk_, "events.sqlite");
    commands_.attachStation(station_);
    station_.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return station_.cache().loaded(); }, kWaitMs));
  }
  void Alarm(int address, int code, std::uint64_t seq) {
    desk_.Publish(testing::ContactId(address, code, true, 1, seq));
    QCoreApplication::processEvents();
  }
  // Chooses the row of that address, as a click would.
  void Choose(const QString& address) {
    QTreeWidget* list = commands_.queueWindow()->list();
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
      QTreeWidgetItem* item = list->topLevelItem(i);
      if (item->text(AlarmQueueWindow::kAddress) == address) {
        list->setCurrentItem(item, 0, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
      }
    }
  }
  QString Panel() { return commands_.queueWindow()->planPanel()->text(); }

  QApplication& app_{testing::GuiApp()};
  testing::WorkFolder folder_{"pelvaron-station-gui"};
  AlarmDesk desk_{PriorityTable::Defaults()};
  PlainHost host_;
  ui::AlarmCommandsUi commands_{host_};
  StationCommandsUi station_{host_, desk_};
};

TEST_F(StationDeskTest, WithoutAListNobodyIsAskedToSignInAndNothingIsWritten) {
  Start();
  Alarm(301, 110, 1);
  commands_.onAlarmQueue();
  EXPECT_EQ(station_.signInDialog(), nullptr);
  EXPECT_FALSE(LabelText(commands_.queueWindow(), "alarmSummary").contains("Оператор"));
  Choose("0301");
  EXPECT_EQ(Panel(), QString("План не задан."));
  station_.signIn();
  EXPECT_EQ(station_.signInDialog(), nullptr);
  ASSERT_EQ(host_.messages.size(), 1u);
  EXPECT_NE(host_.messages[0].find("Операторы…"), std::string::npos) << "says where to add the first senior";
  EXPECT_FALSE(std::filesystem::exists(kStationStoreFileName)) << "reading makes no store";
}

TEST_F(StationDeskTest, ThePlanBesideTheQueueAndItsDialogRefusingABadTelephone) {
  SeedStation();
  Start();
  Alarm(301, 110, 1);
  Alarm(302, 130, 2);
  Alarm(303, 110, 3);
  commands_.onAlarmQueue();
  AlarmQueueWindow* w = commands_.queueWindow();

  // The object's own plan, else its priority's default, else none.
  struct Case {
    const char* address;
    std::vector<const char*> shown;
  };
  const Case cases[] = {
      {"0301",
       {"План объекта 0301", "Инструкция:\nПроверить шлейф 3.\nВызвать пожарную охрану.",
        "1. Иванов И.И. (директор): +7 900 111-22-33, +7 900 111-22-44\n2. Петров П.П.: 8 812 555-00-00",
        "Группа реагирования: ГБР-3, +7 812 555-10-10"}},
      {"0302", {"План по умолчанию для приоритета «Проникновение»", "Выслать группу.", "ГБР-1, +7 812 555-20-20"}},
      {"0303", {"План не задан."}},
  };
  for (const Case& c : cases) {
    Choose(c.address);
    for (const char* text : c.shown) EXPECT_TRUE(Panel().contains(QString(text))) << c.address << ": " << Panel().toStdString();
  }
  EXPECT_EQ(w->planPanel()->focusPolicy(), Qt::NoFocus) << "Tab passes the panel by";

  // A call offers the plan's key holders, one per telephone, in calling order.
  Choose("0301");
  QStringList offered;
  QTimer::singleShot(0, [&] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (auto* d = qobject_cast<ui::AlarmActionDialog*>(top); d && d->isVisible()) {
        auto* whom = d->findChild<QComboBox*>("whomBox");
        for (int i = 0; i < whom->count(); ++i) offered << whom->itemText(i);
        d->reject();
      }
    }
  });
  w->findChild<QPushButton*>("actionButton")->click();
  EXPECT_EQ(offered, QStringList({"Иванов И.И. (директор), +7 900 111-22-33", "Иванов И.И. (директор), +7 900 111-22-44",
                                  "Петров П.П., 8 812 555-00-00"}));

  // "План…" on 0303: a wrong telephone is refused in the store's words, the form kept.
  Choose("0303");
  w->findChild<QPushButton*>("planButton")->click();
  ui::PlanDialog* dialog = station_.planDialog();
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(dialog->isPlan("0303", ""));
  dialog->findChild<QPlainTextEdit*>("instructionsEdit")->setPlainText("Звонить сторожу.");
  dialog->findChild<QPushButton*>("addHolderButton")->click();
  QTableWidget* holders = dialog->holders();
  ASSERT_EQ(holders->rowCount(), 1);
  holders->item(0, ui::PlanDialog::kName)->setText("Сидоров С.С.");
  holders->item(0, ui::PlanDialog::kRole)->setText("сторож");
  holders->item(0, ui::PlanDialog::kPhones)->setText("звоните вахтёру");
  // A second key holder moved up calls first; moved back, second.
  dialog->findChild<QPushButton*>("addHolderButton")->click();
  holders->item(1, ui::PlanDialog::kName)->setText("Кузнецов К.К.");
  holders->item(1, ui::PlanDialog::kPhones)->setText("8 900 000-00-00");
  dialog->findChild<QPushButton*>("holderUpButton")->click();
  EXPECT_EQ(dialog->plan().keyHolders.front().name, "Кузнецов К.К.");
  dialog->findChild<QPushButton*>("holderDownButton")->click();
  EXPECT_EQ(dialog->plan().keyHolders.back().name, "Кузнецов К.К.");
  dialog->findChild<QPushButton*>("removeHolderButton")->click();
  ASSERT_EQ(holders->rowCount(), 1);
  const Result<> refused = CheckPlan(dialog->plan());
  ASSERT_FALSE(refused.ok());
  dialog->findChild<QPushButton*>("savePlanButton")->click();
  EXPECT_TRUE(dialog->messageLabel()->text().contains(ui::Utf8(refused.problem().text)))
      << dialog->messageLabel()->text().toStdString();
  EXPECT_EQ(station_.seniorDialog(), nullptr) << "refused before anyone is asked for a PIN";
  EXPECT_EQ(dialog->findChild<QPlainTextEdit*>("instructionsEdit")->toPlainText(), QString("Звонить сторожу."));
  EXPECT_EQ(holders->item(0, ui::PlanDialog::kPhones)->text(), QString("звоните вахтёру"));

  // Fixed, it needs a senior (nobody is signed in): Борис is refused, Анна saves.
  holders->item(0, ui::PlanDialog::kPhones)->setText("+7 812 555-66-77; 8 921 000-00-01");
  dialog->findChild<QPushButton*>("savePlanButton")->click();
  ui::SignInDialog* senior = station_.seniorDialog();
  ASSERT_NE(senior, nullptr);
  auto confirm = [&](const QString& name, const QString& secret) {
    senior->findChild<QComboBox*>("operatorNameBox")->setCurrentText(name);
    senior->secretEdit()->setText(secret);
    senior->findChild<QPushButton*>("signInButton")->click();
  };
  EXPECT_EQ(senior->findChild<QComboBox*>("operatorNameBox")->count(), 1) << "only seniors are offered";
  confirm("Анна", "2222");
  ASSERT_TRUE(QTest::qWaitFor([&] { return senior->messageLabel()->text().startsWith("Неверный"); }, kWaitMs));
  EXPECT_NE(station_.planDialog(), nullptr);
  confirm("Анна", "1111");
  ASSERT_TRUE(QTest::qWaitFor([&] { return station_.planDialog() == nullptr; }, kWaitMs));
  EXPECT_TRUE(Panel().startsWith("План объекта 0303")) << "shown anew once saved: " << Panel().toStdString();
  EXPECT_TRUE(Panel().contains("1. Сидоров С.С. (сторож): +7 812 555-66-77, 8 921 000-00-01")) << Panel().toStdString();

  StationStore store;
  ASSERT_TRUE(testing::Succeeded(store.Open(kStationStoreFileName, StationStore::Mode::ReadWrite)));
  Result<std::optional<ResponsePlan>> saved = store.PlanFor("0303", "fire");
  ASSERT_TRUE(saved.ok() && saved->has_value());
  EXPECT_EQ((*saved)->keyHolders,
            (std::vector<KeyHolder>{{"Сидоров С.С.", "сторож", {"+7 812 555-66-77", "8 921 000-00-01"}}}));

  // A plan written by another program (an import) is shown once the file has changed.
  ASSERT_TRUE(testing::Succeeded(store.SavePlan({"0302", "", "Своя инструкция.", {}, "", ""})));
  store.Close();
  Choose("0302");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Panel().startsWith("План объекта 0302"); }, kWaitMs))
      << Panel().toStdString();
}

TEST_F(StationDeskTest, TheFirstSeniorIsAddedFreelyThenTheListAsksASeniorsPinAndKeepsItsRules) {
  Start();
  // An empty list: nobody to ask, the first operator is added at once.
  station_.manageOperators();
  EXPECT_EQ(station_.seniorDialog(), nullptr);
  ui::OperatorsDialog* list = station_.operatorsDialog();
  ASSERT_NE(list, nullptr);
  auto settled = [&] { return QTest::qWaitFor([&] { return !list->busy(); }, kWaitMs); };
  auto message = [&] { return list->messageLabel()->text().toStdString(); };
  list->addOperator("Борис", "2222", false);
  ASSERT_TRUE(settled());
  EXPECT_NE(message().find("старш"), std::string::npos) << "the store's refusal, in the dialog: " << message();
  list->addOperator("Анна", "1111", true);
  ASSERT_TRUE(settled());
  list->addOperator("Борис", "2222", false);
  ASSERT_TRUE(settled());
  list->setSecret("Борис", "3333");
  ASSERT_TRUE(settled());
  EXPECT_EQ(station_.cache().operators(),
            (std::vector<OperatorAccount>{{"Анна", true}, {"Борис", false}}))
      << "the window's list follows the store";
  list->close();

  // From now on a senior's own PIN first: Борис is no senior.
  station_.manageOperators();
  ui::SignInDialog* senior = station_.seniorDialog();
  ASSERT_NE(senior, nullptr);
  EXPECT_EQ(station_.operatorsDialog(), nullptr);
  senior->secretEdit()->setText("1111");
  senior->findChild<QPushButton*>("signInButton")->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return station_.operatorsDialog() != nullptr; }, kWaitMs));
  station_.operatorsDialog()->close();

  // Борис signs in with his new PIN only.
  station_.signIn();
  ui::SignInDialog* in = station_.signInDialog();
  ASSERT_NE(in, nullptr);
  in->findChild<QComboBox*>("operatorNameBox")->setCurrentText("Борис");
  for (const char* pin : {"2222", "3333"}) {
    in->secretEdit()->setText(pin);
    in->findChild<QPushButton*>("signInButton")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return station_.signInDialog() == nullptr || in->secretEdit()->isEnabled(); }, kWaitMs));
  }
  ASSERT_TRUE(station_.signedIn().has_value());
  EXPECT_EQ(station_.signedIn()->name, "Борис");
  EXPECT_EQ(desk_.operatorName(), "Борис");
}

// The console against the simulated receiver: operators sign in over it
// and change shift while it ticks.
class StationShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::GuiApp();
    ASSERT_FALSE(folder_.Path().empty());
    SeedStation();
    std::string error;
    simulator_ = sim::Simulator::OnNewPty({}, &error);
    ASSERT_TRUE(simulator_) << error;
    simulator_->Start();
    ASSERT_EQ(options_.devices.Add("COM1=" + simulator_->DevicePath()), "");
    records_ = std::make_unique<EventRecords>(files_, clock_, EventRecords::Settings{});
    ConsoleHooks hooks = records_->Hooks();
    hooks.afterTick = [this, tick = hooks.afterTick](Console& console) {
      tick(console);
      std::lock_guard<std::mutex> lock(mutex_);
      ++ticks_;
      tickThread_ = std::this_thread::get_id();
      ticked_.notify_all();
    };
    shell_ = std::make_unique<ui::WindowShell>("pelvaron", options_, RealPorts, nullptr, hooks);
    shell_->messageHook = [](const OperatorMessage&) {};
    alarms_ = std::make_unique<ui::AlarmCommandsUi>(*shell_);
    alarms_->attach(records_->desk(), "events.sqlite");
    JoinAlarmWindows(*shell_, *alarms_);
    station_ = std::make_unique<StationCommandsUi>(*shell_, records_->desk());
    JoinStationWindows(*shell_, *alarms_, *station_);
    // Each check waits, on its own thread, for two ticks of the console.
    station_->beforeSecretCheck = [this] {
      std::unique_lock<std::mutex> lock(mutex_);
      checkThreads_.push_back(std::this_thread::get_id());
      const int from = ticks_;
      ticksDuringChecks_.push_back(
          ticked_.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] { return ticks_ >= from + 2; }));
    };
  }
  void TearDown() override {
    shell_.reset();
    station_.reset();
    alarms_.reset();
    records_.reset();
    if (simulator_) simulator_->Stop();
  }
  std::string Protocol() {
    std::ifstream in("protocol.txt", std::ios::binary);
    return Cp1251ToUtf8(std::string(std::istreambuf_iterator<char>(in), {}));
  }
  bool ProtocolHas(const std::string& text) {
    return QTest::qWaitFor([&] { return Protocol().find(text) != std::string::npos; }, kWaitMs);
  }
  // Signs in through the dialog open now.
  void Submit(const QString& name, const QString& secret) {
    ui::SignInDialog* d = station_->signInDialog();
    ASSERT_NE(d, nullptr);
    d->findChild<QComboBox*>("operatorNameBox")->setCurrentText(name);
    d->secretEdit()->setText(secret);
    d->findChild<QPushButton*>("signInButton")->click();
  }

  testing::WorkFolder folder_{"pelvaron-station-shell"};
  RealFileSystem files_;
  SystemClock clock_;
  Options options_;
  std::unique_ptr<sim::Simulator> simulator_;
  std::unique_ptr<EventRecords> records_;
  std::unique_ptr<ui::WindowShell> shell_;
  std::unique_ptr<ui::AlarmCommandsUi> alarms_;
  std::unique_ptr<StationCommandsUi> station_;
  std::mutex mutex_;
  std::condition_variable ticked_;
  int ticks_ = 0;
  std::thread::id tickThread_;
  std::vector<std::thread::id> checkThreads_;
  std::vector<bool> ticksDuringChecks_;
};

TEST_F(StationShellTest, SignInAtStartWrongPinLoggedThenAShiftChangeWhileTheConsoleTicks) {
  shell_->start();
  station_->start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return shell_->window().bLinkOk == 1; }, kWaitMs));
  ASSERT_TRUE(QTest::qWaitFor([&] { return station_->signInDialog() != nullptr; }, kWaitMs)) << "asked at start";
  EXPECT_EQ(station_->signInDialog()->windowModality(), Qt::NonModal) << "blocks nothing";

  // A wrong PIN: said in the dialog, written to the protocol, nobody signed in.
  Submit("Анна", "9999");
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return station_->signInDialog()->messageLabel()->text().startsWith("Неверный ПИН-код"); }, kWaitMs));
  EXPECT_TRUE(ProtocolHas("Отказ во входе оператора Анна"));
  EXPECT_FALSE(station_->signedIn());

  Submit("Анна", "1111");
  ASSERT_TRUE(QTest::qWaitFor([&] { return station_->signInDialog() == nullptr; }, kWaitMs));
  EXPECT_TRUE(ProtocolHas("Оператор Анна начал работу"));
  alarms_->onAlarmQueue();
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return LabelText(alarms_->queueWindow(), "alarmSummary").endsWith("Оператор: Анна"); }, kWaitMs))
      << LabelText(alarms_->queueWindow(), "alarmSummary").toStdString();

  // The shift changes from the menu: Анна's out, then Борис's in.
  QStringList items;
  QAction* change = nullptr;
  for (QAction* top : shell_->window().mainMenuBar()->actions()) {
    if (top->text() != "Тревоги") continue;
    for (QAction* item : top->menu()->actions()) {
      items << item->text();
      if (item->text() == "Смена оператора…") change = item;
    }
  }
  EXPECT_EQ(items, QStringList({"Очередь тревог\tF9", "История событий", "", "Вход оператора…", "Смена оператора…",
                                "Выход оператора", "Операторы…", "", "Планы реагирования…"}));
  ASSERT_NE(change, nullptr);
  EXPECT_TRUE(change->isEnabled());
  change->trigger();
  Submit("Борис", "2222");
  ASSERT_TRUE(QTest::qWaitFor([&] { return station_->signInDialog() == nullptr; }, kWaitMs));
  ASSERT_TRUE(ProtocolHas("Оператор Борис начал работу"));
  const std::string protocol = Protocol();
  EXPECT_LT(protocol.find("Оператор Анна закончил работу"), protocol.find("Оператор Борис начал работу"));
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return LabelText(alarms_->queueWindow(), "alarmSummary").endsWith("Оператор: Борис"); }, kWaitMs));

  // Every check ran beside the console, which went on ticking meanwhile.
  std::lock_guard<std::mutex> lock(mutex_);
  ASSERT_EQ(checkThreads_.size(), 3u);
  for (std::size_t i = 0; i < checkThreads_.size(); ++i) {
    EXPECT_NE(checkThreads_[i], tickThread_) << "check " << i << " on the console's thread";
    EXPECT_NE(checkThreads_[i], std::this_thread::get_id()) << "check " << i << " on the window's thread";
    EXPECT_TRUE(ticksDuringChecks_[i]) << "no tick during check " << i;
  }
}

}  // namespace
}  // namespace pelvaron
