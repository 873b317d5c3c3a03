// Every text of every window is the console's own or Russian: the dialogs
// as built, Qt's file dialog, and an edit's context menu.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include "alarms/ui/alarm_queue_window.h"
#include "alarms/ui/history_window.h"
#include "app/ui/about_box.h"
#include "app/ui/console_window.h"
#include "gui_support.h"
#include "link/ui/exchange_progress_dlg.h"
#include "link/ui/receiver_settings_page.h"
#include "objects/ui/object_card_dlg.h"
#include "objects/ui/object_state_dlg.h"
#include "operator_texts.h"
#include "protocol/ui/settings_page.h"
#include "widgets/property_sheet.h"
#include "widgets/qt_texts.h"

namespace pelvaron::ui {
namespace {

using testing::GuiApp;
using testing::UnreadableTexts;

TEST(OperatorTexts, TheCheckKnowsRussianFromEnglish) {
  using testing::IsConsoleText;
  using testing::IsRussian;
  EXPECT_TRUE(IsRussian("Папка"));
  EXPECT_TRUE(IsRussian("06:12:2026, 08:47"));
  EXPECT_TRUE(IsRussian("Файл alarm.wav не читается"));
  EXPECT_FALSE(IsRussian("Folder"));
  EXPECT_FALSE(IsRussian("3 KiB"));
  EXPECT_TRUE(IsConsoleText("Error in opening protocol file"));
  EXPECT_TRUE(IsConsoleText("Нет ответа от Велдор!\n Проверьте соединение Велдор с компьютером!"));
  EXPECT_FALSE(IsConsoleText("Cancel"));

  // The walk finds English wherever it hides: a label, a tool tip, a menu
  // bar's sub-menu, a drop-down list.
  GuiApp();
  QWidget window;
  auto* label = new QLabel("Folder", &window);
  label->setToolTip("Open the folder");
  auto* bar = new QMenuBar(&window);
  bar->addMenu("Файл")->addAction("Save");
  auto* combo = new QComboBox(&window);
  combo->addItems({"COM1", "Other"});
  const QStringList found = UnreadableTexts(&window);
  for (const char* english : {"Folder", "Open the folder", "Save", "Other"})
    EXPECT_EQ(found.filter(QRegularExpression(QString(": %1$").arg(english))).size(), 1) << english;
  EXPECT_EQ(found.filter("COM1").size(), 0);
}

TEST(OperatorTexts, EveryDialogOfTheConsole) {
  GuiApp();
  ASSERT_TRUE(InstallRussianQtTexts());
  CConsoleDlg console;
  console.setObjectRows({{false, " 0001", "+", "2h", "0m", "Склад"}});
  console.show();
  EXPECT_EQ(UnreadableTexts(&console), QStringList());
  std::unique_ptr<QMenu> objects = console.createObjectMenu();
  EXPECT_EQ(UnreadableTexts(objects.get()), QStringList());

  CAboutBox about;
  CObjectCardDlg card;
  card.m_nSlot = -1;
  card.m_strLoop1Type = card.m_strLoop2Type = "Не определён";
  card.m_strState = "Инициализация нового объекта";
  CObjectStateDlg state;
  PropertySheet programSettings(new Settings);
  PropertySheet receiverSettings(new Pult_settings);
  CExchangeProgressDlg progress(&console);
  progress.setTexts("Идёт обмен информацией ...", "Попытка связи 1 из 12");
  progress.setClosingNotice(true);
  AlarmQueueWindow queue;
  AlarmRow alarm;
  alarm.entry.text = "Пожарная тревога";
  alarm.entry.needsAck = alarm.entry.restored = true;
  alarm.entry.repeats = 2;
  queue.setView({{alarm}, false, true, {}});
  HistoryWindow history("events.sqlite", PriorityTable::Defaults());
  QFileDialog exportFile;
  HistoryWindow::PrepareExportFileDialog(exportFile);
  for (QWidget* dialog : std::initializer_list<QWidget*>{&about, &card, &state, &programSettings,
                                                         &receiverSettings, &progress, &queue, &history,
                                                         &exportFile}) {
    dialog->show();
    EXPECT_EQ(UnreadableTexts(dialog), QStringList()) << dialog->metaObject()->className();
    dialog->hide();
  }
}

// The file dialog of "...": its own texts, and the list's sizes, dates and
// types (a folder's too) in Russian whatever the system's locale.
TEST(OperatorTexts, TheFileDialogOfTheProtocolPath) {
  GuiApp();
  ASSERT_TRUE(InstallRussianQtTexts());
  QTemporaryDir dir;
  QDir(dir.path()).mkdir("архив");
  QFile file(dir.filePath("protocol.txt"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(QByteArray(3000, 'x'));
  file.close();
  QFileDialog dialog;
  Settings::PrepareProtocolFileDialog(dialog);
  dialog.setDirectory(dir.path());
  dialog.show();
  auto* view = dialog.findChild<QTreeView*>("treeView");
  ASSERT_NE(view, nullptr);
  QAbstractItemModel* model = view->model();
  const QModelIndex root = view->rootIndex();
  ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount(root) == 2; }, 20000));
  EXPECT_EQ(UnreadableTexts(&dialog), QStringList());
  QStringList actions;  // the list's context menu
  for (QAction* action : dialog.findChildren<QAction*>())
    if (!testing::IsRussian(action->text().remove('&'))) actions << action->text();
  EXPECT_EQ(actions, QStringList());

  std::map<QString, QStringList> rows;  // size, type, date by name
  for (int r = 0; r < model->rowCount(root); ++r) {
    QStringList& columns = rows[model->index(r, 0, root).data().toString()];
    for (int c = 1; c < 4; ++c) columns << model->index(r, c, root).data().toString();
  }
  EXPECT_EQ(rows["архив"][1], QString("Папка"));
  EXPECT_EQ(rows["protocol.txt"][0], QString("2,9 кБ"));
  for (const QString& text : {rows["protocol.txt"][1], rows["архив"][2], rows["protocol.txt"][2]})
    EXPECT_TRUE(!text.isEmpty() && testing::IsRussian(text)) << text.toStdString();
}

}  // namespace
}  // namespace pelvaron::ui
