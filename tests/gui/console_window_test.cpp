// The main console window as a view: status colours, the object list and its
// menu, the event log, tool tips and the one way out.

#include <gtest/gtest.h>

#include <deque>

#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include "app/ui/console_window.h"
#include "gui_support.h"
#include "protocol/ui/event_log_view.h"
#include "res/resources.h"
#include "widgets/status_field.h"
#include "widgets/tool_tips.h"

namespace pelvaron::ui {
namespace {

using testing::GuiApp;
using testing::Render;

constexpr BaseUnits kUnits{6, 13};

bool IsRed(QRgb p) {
  return qRed(p) > 200 && qGreen(p) < 60 && qBlue(p) < 60;
}
bool IsWhite(QRgb p) {
  return qRed(p) > 230 && qGreen(p) > 230 && qBlue(p) > 230;
}
bool IsDark(QRgb p) {
  return qRed(p) < 90 && qGreen(p) < 90 && qBlue(p) < 90;
}

int CountPixels(const QImage& image, const QRect& rect, bool (*test)(QRgb)) {
  int n = 0;
  for (int y = rect.top(); y <= rect.bottom(); ++y)
    for (int x = rect.left(); x <= rect.right(); ++x) n += test(image.pixel(x, y)) ? 1 : 0;
  return n;
}

StatusView Status(int link, int caseClosed, int line) {
  StatusView s;
  s.m_strDateTime = "06:12:2026, 08:47";
  s.m_strLinkState = link ? "  Норма  " : "  Отсутствие!  ";
  s.m_strCaseState = caseClosed ? "  Норма  " : "  ВСКРЫТ !  ";
  s.m_strLineState = line ? "  Норма  " : "  Отсутствие !  ";
  s.bLinkOk = link;
  s.bCaseClosed = caseClosed;
  s.bLineOk = line;
  return s;
}

std::vector<ObjectListRow> Rows(int n) {
  std::vector<ObjectListRow> rows;
  for (int i = 0; i < n; ++i)
    rows.push_back({i == 1, " 000" + std::to_string(i + 1), "+", "2h", "0m", "комментарий"});
  return rows;
}

TEST(ConsoleStatus, FlagZeroPaintsRedOnlyBehindTheCharacters) {
  GuiApp();
  CConsoleDlg console(nullptr, kUnits);
  StatusView status = Status(1, 0, 1);
  status.m_strCaseState = "  Норма  ";  // narrower than the field
  console.setStatus(status);
  auto* field = console.control<StatusField>(res::IDC_CASE_STATE);
  EXPECT_EQ(field->text(), QString("  Норма  "));
  QImage image = Render(field);
  QRect cells = field->textRect();
  ASSERT_GT(cells.left(), 0) << "the text must leave room at the side";
  // The leading spaces are cells of the text: red behind them.
  EXPECT_TRUE(IsRed(image.pixel(cells.left() + 1, cells.center().y())));
  // Outside the text the control keeps its default background.
  EXPECT_FALSE(IsRed(image.pixel(cells.left() - 2, cells.center().y())));
  EXPECT_FALSE(IsRed(image.pixel(cells.right() + 2, cells.center().y())));
  // White characters on the red band.
  EXPECT_GT(CountPixels(image, cells, IsWhite), 10);
  EXPECT_EQ(CountPixels(image, cells, IsDark), 0);
}

TEST(ConsoleStatus, FlagOnePaintsBlackOnButtonFace) {
  GuiApp();
  CConsoleDlg console(nullptr, kUnits);
  console.setStatus(Status(1, 1, 1));
  for (int id : {res::IDC_LINK_STATE, res::IDC_CASE_STATE, res::IDC_LINE_STATE}) {
    auto* field = console.control<StatusField>(id);
    QImage image = Render(field);
    QRect cells = field->textRect();
    EXPECT_EQ(CountPixels(image, cells, IsRed), 0) << id;
    EXPECT_GT(CountPixels(image, cells, IsDark), 10) << id;
    EXPECT_EQ(QColor(image.pixel(cells.left() + 1, cells.center().y())),
              field->palette().color(QPalette::Button));
  }
}

TEST(ConsoleStatus, EachFieldFollowsItsOwnFlag) {
  GuiApp();
  CConsoleDlg console(nullptr, kUnits);
  struct Case {
    int link, caseClosed, line;
  } cases[] = {{0, 1, 1}, {1, 0, 1}, {1, 1, 0}, {0, 0, 0}};
  for (const Case& c : cases) {
    console.setStatus(Status(c.link, c.caseClosed, c.line));
    std::pair<int, int> fields[] = {
        {res::IDC_LINK_STATE, c.link}, {res::IDC_CASE_STATE, c.caseClosed}, {res::IDC_LINE_STATE, c.line}};
    for (auto [id, flag] : fields) {
      auto* field = console.control<StatusField>(id);
      QImage image = Render(field);
      EXPECT_EQ(CountPixels(image, field->textRect(), IsRed) > 0, flag == 0) << id << " flag " << flag;
    }
  }
  // The date is never coloured and keeps its text.
  EXPECT_EQ(console.control<QLabel>(res::IDC_DATE_TIME)->text(), QString("06:12:2026, 08:47"));
}

TEST(ConsoleStatus, WideTextGrowsAboutTheTemplateCentre) {
  GuiApp();
  CConsoleDlg console(nullptr, kUnits);
  auto* field = console.control<StatusField>(res::IDC_LINK_STATE);
  const QRect templ = DialogUnitsToPixels(26, 316, 43, 8, kUnits);
  console.setStatus(Status(1, 1, 1));
  EXPECT_EQ(field->geometry(), templ);
  console.setStatus(Status(0, 1, 1));
  const int textWidth = field->fontMetrics().horizontalAdvance(field->text());
  ASSERT_GT(textWidth, templ.width());  // the spaced text is wider than its template field
  EXPECT_EQ(field->width(), textWidth);
  EXPECT_LE(std::abs(field->geometry().center().x() - templ.center().x()), 1);
  EXPECT_TRUE(field->textRect().width() <= field->width());
  // updateData(true) reads the fields back.
  console.updateData(true);
  EXPECT_EQ(console.m_strLinkState, QString("  Отсутствие!  "));
}

TEST(ObjectList, ColumnsAndRows) {
  GuiApp();
  CConsoleDlg console(nullptr, kUnits);
  QTreeWidget* list = console.m_listObjects;
  const int w = list->width();
  ASSERT_EQ(list->columnCount(), 5);
  const int divisors[] = {7, 9, 6, 8, 2};
  const char* headings[] = {"Адрес объекта", "Контроль", "Период контроля", "Посл. связь", "Комментарии"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(list->columnWidth(i), w / divisors[i]) << i;
    EXPECT_EQ(list->headerItem()->text(i), QString::fromUtf8(headings[i]));
  }
  console.setObjectRows(Rows(3));
  ASSERT_EQ(list->topLevelItemCount(), 3);
  QTreeWidgetItem* second = list->topLevelItem(1);
  EXPECT_EQ(second->text(0), QString(" 0002"));
  EXPECT_EQ(second->textAlignment(1) & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  EXPECT_EQ(second->textAlignment(4) & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
  // Row 1 is in alarm: red square; the others green.
  QImage red = second->icon(0).pixmap(16, 16).toImage();
  QImage green = list->topLevelItem(0)->icon(0).pixmap(16, 16).toImage();
  EXPECT_EQ(QColor(red.pixel(8, 8)), QColor(255, 0, 0));
  EXPECT_EQ(QColor(green.pixel(8, 8)), QColor(0, 255, 0));
}

TEST(ObjectList, ACommentWithLineBreaksShowsOnOneLine) {
  GuiApp();
  CConsoleDlg console(nullptr, kUnits);
  console.setObjectRows({{false, " 0001", "+", "2h", "0m", "Офис\r\nвторой этаж\nвход со двора"}});
  EXPECT_EQ(console.m_listObjects->topLevelItem(0)->text(4), QString("Офис второй этаж вход со двора"));
}

// However small the operator drags the window, the status strip stays whole.
TEST(ConsoleWindow, NeverSmallerThanTheStatusStrip) {
  GuiApp();
  CConsoleDlg console(nullptr, kUnits);
  console.show();
  console.resize(200, 150);
  QApplication::processEvents();
  for (int id : {res::IDC_LINK_STATE, res::IDC_CASE_STATE, res::IDC_LINE_STATE, res::IDC_DATE_TIME}) {
    QWidget* field = console.control(id);
    const QRect inWindow(field->mapTo(&console, QPoint(0, 0)), field->size());
    EXPECT_TRUE(console.rect().contains(inWindow)) << id;
  }
  // Larger is free, and moves nothing.
  const QPoint date = console.control(res::IDC_DATE_TIME)->mapTo(&console, QPoint(0, 0));
  console.resize(console.width() + 200, console.height() + 100);
  QApplication::processEvents();
  EXPECT_EQ(console.control(res::IDC_DATE_TIME)->mapTo(&console, QPoint(0, 0)), date);
}

TEST(ObjectList, RefillDropsTheSelection) {
  GuiApp();
  CConsoleDlg console(nullptr, kUnits);
  console.setObjectRows(Rows(4));
  console.m_listObjects->topLevelItem(2)->setSelected(true);
  EXPECT_EQ(console.selectedRow(), 2);
  console.setObjectRows(Rows(4));
  EXPECT_EQ(console.selectedRow(), -1);
}

TEST(ObjectMenu, CommandsOnThisObjectGreyedWithoutSelection) {
  GuiApp();
  CConsoleDlg console(nullptr, kUnits);
  console.setObjectRows(Rows(3));
  const std::vector<int> onThis = {32778, 32776, 32780, 32779, 32788};
  const std::vector<int> others = {32775, 32784, 32785, 32786, 32783};
  for (bool selected : {false, true}) {
    if (selected) console.m_listObjects->topLevelItem(0)->setSelected(true);
    std::unique_ptr<QMenu> menu = console.createObjectMenu();
    for (int id : onThis) {
      QAction* action = menu->findChild<QAction*>(CommandName(id));
      ASSERT_NE(action, nullptr) << id;
      EXPECT_EQ(action->isEnabled(), selected) << id;
    }
    for (int id : others) EXPECT_TRUE(menu->findChild<QAction*>(CommandName(id))->isEnabled()) << id;
  }
  // The sub-menus carry the texts of the template.
  std::unique_ptr<QMenu> menu = console.createObjectMenu();
  QStringList titles;
  for (QAction* a : menu->actions())
    if (!a->isSeparator()) titles << a->text();
  EXPECT_EQ(titles, (QStringList{"Инициализировать новый объект", "Режим контроля данного объекта",
                                 "Счетчик времени данного объекта", "Редактировать параметры данного объекта",
                                 "Удалить информацию о данном объекте", "Режим контроля всех объектов",
                                 "Счётчики времени всех объектов", "Очистить информацию обо всех объектах"}));
}

TEST(ObjectMenu, OpensAtTheSelectedIconOrTheCursor) {
  GuiApp();
  CConsoleDlg console(nullptr, kUnits);
  console.show();
  console.setObjectRows(Rows(3));
  const QPoint cursor(5, 7);
  EXPECT_EQ(console.objectMenuPosition(cursor), cursor);
  QTreeWidget* list = console.m_listObjects;
  list->topLevelItem(1)->setSelected(true);
  QRect row = list->visualItemRect(list->topLevelItem(1));
  // The list's outer corner plus the row's place in the client area plus the icon.
  QPoint expected = list->viewport()->mapToGlobal(row.topLeft()) + QPoint(16, 16) -
                    QPoint(list->frameWidth(), list->frameWidth());
  EXPECT_EQ(console.objectMenuPosition(cursor), expected);
}

TEST(ObjectMenu, CommandCarriesTheRowSelectedWhenChosen) {
  GuiApp();
  CConsoleDlg console(nullptr, kUnits);
  console.setObjectRows(Rows(3));
  QSignalSpy objects(&console, &CConsoleDlg::objectCommand);
  QSignalSpy all(&console, &CConsoleDlg::menuCommand);
  console.m_listObjects->topLevelItem(1)->setSelected(true);
  console.triggerCommand(res::ID_OBJECT_EDIT);
  console.setObjectRows(Rows(3));  // a refill while the menu was open
  console.triggerCommand(res::ID_OBJECT_DELETE);
  ASSERT_EQ(objects.count(), 2);
  EXPECT_EQ(objects[0], (QList<QVariant>{32780, 1}));
  EXPECT_EQ(objects[1], (QList<QVariant>{32788, -1}));
  EXPECT_EQ(all.count(), 2);
}

TEST(ObjectList, DoubleClickReportsTheSelectedRow) {
  GuiApp();
  CConsoleDlg console(nullptr, kUnits);
  console.show();
  console.setObjectRows(Rows(3));
  QSignalSpy spy(&console, &CConsoleDlg::objectListDoubleClicked);
  QTreeWidget* list = console.m_listObjects;
  QPoint at = list->visualItemRect(list->topLevelItem(2)).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy[0][0].toInt(), 2);
}

TEST(MainMenu, CommandsLeaveAsSignals) {
  GuiApp();
  CConsoleDlg console(nullptr, kUnits);
  QSignalSpy open(&console, &CConsoleDlg::openProtocolFileRequested);
  QSignalSpy program(&console, &CConsoleDlg::programSettingsRequested);
  QSignalSpy receiver(&console, &CConsoleDlg::receiverSettingsRequested);
  QSignalSpy all(&console, &CConsoleDlg::menuCommand);
  for (int id : {32787, 32771, 32773}) console.mainMenuBar()->findChild<QAction*>(CommandName(id))->trigger();
  EXPECT_EQ(open.count(), 1);
  EXPECT_EQ(program.count(), 1);
  EXPECT_EQ(receiver.count(), 1);
  ASSERT_EQ(all.count(), 3);
  EXPECT_EQ(all[2][0].toInt(), 32773);
}

TEST(EventLog, KeepsAtMost400LinesAndShowsTheNewest) {
  GuiApp();
  CConsoleDlg console(nullptr, kUnits);
  console.show();
  EventLogList* log = console.m_listProtocol;
  for (int i = 0; i < 401; ++i) console.addLine(QString("line %1").arg(i));
  ASSERT_EQ(log->lineCount(), 400);
  EXPECT_EQ(log->line(0), QString("line 1"));
  EXPECT_EQ(log->line(399), QString("line 400"));
  // The newest line is in view.
  QRect newest = log->visualItemRect(log->item(399));
  EXPECT_TRUE(log->viewport()->rect().contains(newest.center()));
  console.clearLog();
  EXPECT_EQ(log->lineCount(), 0);
  console.removeFirst();  // nothing to remove: harmless
  EXPECT_EQ(log->lineCount(), 0);
}

// The console reports each line, and right after it the drop of the oldest
// line once the bound is reached: the log must end up as the console's.
TEST(EventLog, FollowsTheConsolesAnnouncedDrops) {
  GuiApp();
  CConsoleDlg console(nullptr, kUnits);
  std::deque<QString> mirror;
  auto add = [&](const QString& line) {
    mirror.push_back(line);
    console.addLine(line);
    if (mirror.size() > 400) {
      mirror.pop_front();
      console.removeFirst();
    }
  };
  for (int i = 0; i < 450; ++i) add(QString("a%1").arg(i));
  console.clearLog();
  mirror.clear();
  for (int i = 0; i < 405; ++i) add(QString("b%1").arg(i));
  EventLogList* log = console.m_listProtocol;
  ASSERT_EQ(log->lineCount(), 400);
  EXPECT_EQ(log->line(0), mirror.front());
  EXPECT_EQ(log->line(399), mirror.back());
  // A drop the console makes on its own still takes the oldest line.
  console.removeFirst();
  EXPECT_EQ(log->lineCount(), 399);
  EXPECT_EQ(log->line(0), mirror[1]);
}

TEST(EventLog, NoSelectionNoSidewaysScrolling) {
  GuiApp();
  CConsoleDlg console(nullptr, kUnits);
  console.show();
  EventLogList* log = console.m_listProtocol;
  EXPECT_EQ(log->selectionMode(), QAbstractItemView::NoSelection);
  EXPECT_EQ(log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  console.addLine(QString(500, QChar('x')));
  QApplication::processEvents();
  EXPECT_EQ(log->horizontalScrollBar()->maximum(), 0);
  EXPECT_EQ(log->tabStopPixels(), MulDiv(5, kUnits.x, 4));
  QTest::mouseClick(log->viewport(), Qt::LeftButton, {}, log->visualItemRect(log->item(0)).center());
  EXPECT_TRUE(log->selectedItems().isEmpty());
}

TEST(ToolTips, FromTheStringTablePlusTheTwoExtras) {
  GuiApp();
  CConsoleDlg console(nullptr, kUnits);
  ToolTips* tips = console.m_tipCtrl;
  EXPECT_EQ(tips->initialDelay(), 100);
  EXPECT_EQ(tips->autoPopDelay(), 1000);
  EXPECT_EQ(tips->text(console.control(1003)), QString("Очистка окна протокола"));
  EXPECT_EQ(tips->text(console.control(1005)), QString("Состояние связи с Велдор"));
  EXPECT_EQ(tips->text(console.control(1007)), QString("Состояние телефонной линии"));
  EXPECT_EQ(tips->text(console.control(1022)), QString("Состояние объектов"));
  EXPECT_EQ(tips->text(console.control(1000)), QString("Протокол событий"));
  EXPECT_TRUE(tips->text(console.control(1002)).isEmpty());
  EXPECT_TRUE(tips->text(console.control(1006)).isEmpty());
}

TEST(ConsoleClose, CloseBoxAndExitCloseEnterAndEscOnlyAsk) {
  GuiApp();
  CConsoleDlg console(nullptr, kUnits);
  console.show();
  QSignalSpy close(&console, &CConsoleDlg::closeRequested);
  QSignalSpy ask(&console, &CConsoleDlg::exitKeyPressed);
  console.close();  // the close box
  console.mainMenuBar()->findChild<QAction*>(CommandName(res::ID_EXIT))->trigger();
  EXPECT_EQ(close.count(), 2);
  EXPECT_EQ(ask.count(), 0);
  // From the window and from the controls a stray key lands in: the log, a
  // selected object row.
  console.setObjectRows(Rows(2));
  console.m_listObjects->topLevelItem(1)->setSelected(true);
  console.m_listObjects->setCurrentItem(console.m_listObjects->topLevelItem(1));
  for (QWidget* target : {static_cast<QWidget*>(&console), static_cast<QWidget*>(console.m_listProtocol),
                          static_cast<QWidget*>(console.m_listObjects)}) {
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) QTest::keyClick(target, key);
  }
  EXPECT_EQ(ask.count(), 9);
  // With a modifier they do nothing at all (not even Esc's usual cancel).
  QTest::keyClick(&console, Qt::Key_Escape, Qt::ShiftModifier);
  QTest::keyClick(console.m_listProtocol, Qt::Key_Return, Qt::ControlModifier);
  EXPECT_EQ(ask.count(), 9);
  EXPECT_EQ(close.count(), 2);
  EXPECT_TRUE(console.isVisible());  // the shell decides when it ends
  console.finish();
  EXPECT_FALSE(console.isVisible());
  EXPECT_EQ(console.result(), QDialog::Accepted);
}

TEST(ConsoleClose, EnterOnClearPressesItAndClearNeverLooksTheDefault) {
  GuiApp();
  CConsoleDlg console(nullptr, kUnits);
  console.show();
  QSignalSpy ask(&console, &CConsoleDlg::exitKeyPressed);
  QSignalSpy clear(&console, &CConsoleDlg::clearLogRequested);
  auto* button = console.control<QPushButton>(res::IDC_CLEAR_LOG);
  // Drawn as the default, it would promise that Enter clears from anywhere.
  EXPECT_FALSE(button->isDefault());
  button->setFocus();
  QTest::keyClick(button, Qt::Key_Return);
  EXPECT_EQ(clear.count(), 1);
  EXPECT_EQ(ask.count(), 0);
  EXPECT_FALSE(button->isDefault());
  // Enter elsewhere does not clear.
  console.m_listProtocol->setFocus();
  QTest::keyClick(console.m_listProtocol, Qt::Key_Return);
  EXPECT_EQ(clear.count(), 1);
  EXPECT_EQ(ask.count(), 1);
}

}  // namespace
}  // namespace pelvaron::ui

namespace pelvaron::ui {
namespace {

TEST(ObjectList, AClickInTheLastColumnKeepsTheIconsInSight) {
  testing::GuiApp();
  CConsoleDlg console(nullptr, kUnits);
  console.show();
  console.setObjectRows(
      {{true, " 0001", "+", "2h", "0m", "Склад"}, {false, " 0002", "-", "1h", "5m", "Офис"}});
  QTreeWidget* list = console.m_listObjects;
  QTest::qWait(0);
  ASSERT_GT(list->horizontalScrollBar()->maximum(), 0);  // the columns are wider than the list
  const QRect comment = list->visualRect(list->model()->index(1, 4));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    QPoint(list->viewport()->width() - 3, comment.center().y()));
  EXPECT_EQ(console.selectedRow(), 1);
  // A view scrolls to a clicked cell once the double-click time is over.
  EXPECT_FALSE(QTest::qWaitFor([&] { return list->horizontalScrollBar()->value() != 0; },
                               QApplication::doubleClickInterval() + 300));
}

}  // namespace
}  // namespace pelvaron::ui
