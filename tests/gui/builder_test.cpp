// Templates as data and the builder that turns them into widgets.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>

#include <functional>
#include <set>

#include "app/ui/about_box.h"
#include "app/ui/console_window.h"
#include "gui_support.h"
#include "objects/ui/object_card_dlg.h"
#include "res/icons.h"
#include "res/resources.h"
#include "widgets/dialog_builder.h"

namespace pelvaron::ui {
namespace {

using testing::GuiApp;

constexpr BaseUnits kUnits{6, 13};

TEST(MulDiv, RoundsHalfAwayFromZero) {
  struct Case {
    int a, b, c, expected;
  } cases[] = {
      {5, 7, 4, 9},     {3, 7, 4, 5},      {2, 7, 4, 4},    {-2, 7, 4, -4}, {21, 13, 8, 34},
      {79, 13, 8, 128}, {287, 13, 8, 466}, {14, 13, 8, 23}, {1, 1, 0, -1},  {0, 5, 3, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.expected) << c.a << "*" << c.b << "/" << c.c;
}

TEST(DialogUnits, ConvertEachCoordinateOnItsOwn) {
  EXPECT_EQ(DialogUnitsToPixels(18, 21, 404, 79, kUnits), QRect(27, 34, 606, 128));
  EXPECT_EQ(DialogUnitsToPixels(386, 287, 50, 14, kUnits), QRect(579, 466, 75, 23));
  EXPECT_EQ(DialogUnitsToPixels(18, 21, 404, 79, BaseUnits{7, 13}), QRect(32, 34, 707, 128));
}

TEST(DialogBuilder, PlacesControlsAtTheirTemplateRectangles) {
  GuiApp();
  CConsoleDlg console(nullptr, kUnits);
  EXPECT_EQ(console.client()->size(), QSize(678, 541));  // 452 x 333 dialog units
  EXPECT_EQ(console.control(res::IDC_OBJECT_LIST)->geometry(), QRect(27, 34, 606, 128));
  EXPECT_EQ(console.control(res::IDC_PROTOCOL_LIST)->geometry(), QRect(24, 202, 612, 239));
  EXPECT_EQ(console.control(res::IDC_CLEAR_LOG)->geometry(), QRect(579, 466, 75, 23));
  EXPECT_EQ(console.control(res::IDC_DATE_TIME)->geometry(), QRect(441, 514, 185, 13));
  auto* strip = console.client()->findChild<QGroupBox*>("group_2");
  ASSERT_NE(strip, nullptr);
  EXPECT_EQ(strip->title(), QString("Связь с Велдор"));
  EXPECT_EQ(strip->geometry(), QRect(12, 499, 650, 34));
}

TEST(DialogBuilder, NamesEveryControlOnce) {
  GuiApp();
  CObjectCardDlg card(nullptr, kUnits);
  const res::DialogTemplate& dialog = *res::FindDialog(res::IDD_OBJECT_CARD);
  for (const res::ControlTemplate& c : dialog.controls) {
    if (c.id == res::IDC_STATIC) continue;
    EXPECT_EQ(card.findChildren<QWidget*>(ControlName(c.id)).size(), 1) << c.id;
  }
  // Controls without an id are numbered per kind in template order.
  EXPECT_EQ(card.findChild<QLabel*>("static_0")->text(), QString("Адрес объекта"));
  EXPECT_EQ(card.findChild<QLabel*>("static_5")->text(), QString("Информация  о состоянии объекта"));
  EXPECT_EQ(card.findChild<QGroupBox*>("group_2")->title(), QString("Типы шлейфов"));
  EXPECT_EQ(card.size(), QSize(452, 315));  // 301 x 194, fixed
}

TEST(DialogBuilder, TabOrderFollowsTheTemplate) {
  GuiApp();
  CObjectCardDlg card(nullptr, kUnits);
  const std::vector<int> order = {1023, 1024, 1025, 1026, 1027, 1028, 1029, 1030, 1031, 1032};
  std::vector<int> seen;
  QWidget* w = card.control(order.front());
  for (int steps = 0; steps < 200 && seen.size() < order.size(); ++steps, w = w->nextInFocusChain()) {
    bool ok = false;
    int id = w->objectName().mid(1).toInt(&ok);
    if (w->objectName().startsWith('c') && ok) seen.push_back(id);
  }
  EXPECT_EQ(seen, order);
}

TEST(DialogBuilder, ControlsStayPutWhenTheWindowIsResized) {
  GuiApp();
  CConsoleDlg console(nullptr, kUnits);
  console.show();
  std::vector<std::pair<QWidget*, QRect>> before;
  for (QWidget* w : console.client()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    before.emplace_back(w, QRect(w->mapTo(&console, QPoint(0, 0)), w->size()));
  ASSERT_GT(before.size(), 10u);
  for (QSize size : {QSize(1600, 1200), QSize(300, 200)}) {
    console.resize(size);
    for (const auto& [w, rect] : before) {
      EXPECT_EQ(QRect(w->mapTo(&console, QPoint(0, 0)), w->size()), rect) << w->objectName().toStdString();
    }
  }
  console.showMaximized();
  for (const auto& [w, rect] : before) EXPECT_EQ(QRect(w->mapTo(&console, QPoint(0, 0)), w->size()), rect);
  // The menu bar follows the window's width.
  EXPECT_EQ(console.mainMenuBar()->width(), console.width());
}

TEST(DialogBuilder, OneLineStaticShowsItsWholeText) {
  GuiApp();
  CObjectCardDlg card(nullptr, kUnits);
  // "ШС 1" is 17 dialog units wide; a wider font must not wrap its number away.
  auto* loop = card.findChild<QLabel*>("static_3");
  ASSERT_EQ(loop->text(), QString("ШС 1"));
  EXPECT_FALSE(loop->wordWrap());
  EXPECT_GE(loop->width(), loop->fontMetrics().horizontalAdvance(loop->text()));
  EXPECT_EQ(loop->x(), MulDiv(175, kUnits.x, 4));
  // A static of several lines wraps in its rectangle.
  EXPECT_TRUE(card.findChild<QLabel*>("static_5")->wordWrap());
}

TEST(DialogBuilder, RadioGroupsFollowTheGroupFlag) {
  GuiApp();
  QWidget page;
  DialogBuilder builder(*res::FindDialog(res::IDD_RECEIVER_SETTINGS), kUnits);
  builder.build(&page);
  auto* one = page.findChild<QRadioButton*>("c1036");
  auto* two = page.findChild<QRadioButton*>("c1037");
  auto* lomir = page.findChild<QRadioButton*>("c1034");
  lomir->click();
  one->click();
  two->click();
  EXPECT_TRUE(two->isChecked());
  EXPECT_FALSE(one->isChecked());
  EXPECT_TRUE(lomir->isChecked());  // another group
  auto* rings = page.findChild<QComboBox*>("c1014");
  ASSERT_EQ(rings->count(), 5);
  EXPECT_EQ(rings->itemText(4), QString("5 звонков"));
  EXPECT_EQ(rings->currentIndex(), -1);
}

TEST(Resources, TemplatesKeepTheirTexts) {
  const res::DialogTemplate* console = res::FindDialog(res::IDD_CONSOLE);
  ASSERT_NE(console, nullptr);
  EXPECT_EQ(console->caption, "Pelvaron, вер. 2.0");
  EXPECT_EQ(console->fontFace, "MS Shell Dlg");
  EXPECT_EQ(console->Control(res::IDC_DATE_TIME)->style & res::cs::kRight, res::cs::kRight);
  const res::DialogTemplate* state = res::FindDialog(res::IDD_OBJECT_STATE);
  EXPECT_EQ(state->caption, "Информация о состоянии объекта");
  for (const res::DialogTemplate& dialog : res::AllDialogs()) {
    std::set<int> ids;
    for (const res::ControlTemplate& c : dialog.controls) {
      if (c.id != res::IDC_STATIC) {
        EXPECT_TRUE(ids.insert(c.id).second) << dialog.id << " repeats " << c.id;
      }
      EXPECT_LE(c.x + c.cx, dialog.cx) << dialog.id << " control " << c.id << " " << c.text;
    }
  }
}

TEST(Resources, StringTable) {
  EXPECT_EQ(res::LoadString(1003), "Очистка окна протокола");
  EXPECT_EQ(res::LoadString(1031), "Удаление объекта ");
  for (int missing : {101, 1000, 1002, 1006}) EXPECT_TRUE(res::LoadString(missing).empty()) << missing;
}

TEST(Resources, ObjectMenuHasItsCommandsInOrder) {
  const res::MenuTemplate* menu = res::FindMenu(res::IDR_OBJECTMENU);
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(menu->items.size(), 1u);
  std::vector<int> ids;
  std::function<void(const std::vector<res::MenuItem>&)> walk = [&](const std::vector<res::MenuItem>& items) {
    for (const res::MenuItem& item : items) {
      if (item.IsPopup())
        walk(item.items);
      else if (!item.IsSeparator())
        ids.push_back(item.id);
    }
  };
  walk(menu->items.front().items);
  EXPECT_EQ(ids, (std::vector<int>{32775, 32778, 32776, 32779, 32780, 32788, 32784, 32785, 32786, 32783}));
  EXPECT_TRUE(menu->items.front().items[1].IsSeparator());
}

TEST(Resources, IconsAtBothSizes) {
  GuiApp();
  for (int id : {res::IDI_PROGRAM, res::IDI_ALARM, res::IDI_NORMAL}) {
    for (int size : {32, 16}) {
      QImage image = IconPixmap(id, size).toImage();
      ASSERT_EQ(image.size(), QSize(size, size)) << id;
    }
  }
  for (auto [id, colour] :
       {std::pair{res::IDI_ALARM, QColor(255, 0, 0)}, std::pair{res::IDI_NORMAL, QColor(0, 255, 0)}}) {
    QImage image = IconPixmap(id, 32).toImage();
    QSet<QRgb> colours;
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x) colours.insert(image.pixel(x, y));
    EXPECT_EQ(colours, QSet<QRgb>{colour.rgb()}) << id;
  }
  // The program icon: a transparent corner around an opaque, many-coloured middle.
  for (int size : {32, 16}) {
    QImage program = IconPixmap(res::IDI_PROGRAM, size).toImage();
    EXPECT_EQ(qAlpha(program.pixel(0, size - 1)), 0);
    EXPECT_EQ(qAlpha(program.pixel(size / 2, size / 2)), 255);
    QSet<QRgb> colours;
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) colours.insert(program.pixel(x, y));
    EXPECT_GE(colours.size(), 4);
  }
  for (const res::IconResource* icon : {res::FindIcon(128), res::FindIcon(141), res::FindIcon(142)})
    for (const res::IconImage& image : icon->images)
      for (std::string_view row : image.rows) EXPECT_EQ(static_cast<int>(row.size()), image.size);
}

TEST(MenuBar, MainMenuCommandsAndHelpAtTheRight) {
  GuiApp();
  CConsoleDlg console(nullptr, kUnits);
  QMenuBar* bar = console.mainMenuBar();
  for (int id : {32787, 32772, 32771, 32773, 32774}) {
    QAction* action = bar->findChild<QAction*>(CommandName(id));
    ASSERT_NE(action, nullptr) << id;
    EXPECT_EQ(action->data().toInt(), id);
  }
  auto* right = qobject_cast<QMenuBar*>(bar->cornerWidget(Qt::TopRightCorner));
  ASSERT_NE(right, nullptr);
  ASSERT_EQ(right->actions().size(), 1);
  EXPECT_EQ(right->actions().front()->text(), QString("Помощь"));
  EXPECT_EQ(bar->findChild<QAction*>(CommandName(32774))->text(), QString("О программе"));
}

TEST(AboutBox, ShowsTheProgramIconAndVersion) {
  GuiApp();
  CAboutBox about(nullptr, kUnits);
  EXPECT_EQ(about.windowTitle(), QString("О программе"));
  EXPECT_EQ(about.findChild<QLabel*>("static_0")->text(), QString("Pelvaron, версия 2.0"));
  auto* icon = about.findChild<QLabel*>("icon_0");
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->pixmap().size(), QSize(32, 32));
  about.show();
  about.control<QPushButton>(res::IDOK)->click();
  EXPECT_EQ(about.result(), QDialog::Accepted);
  EXPECT_FALSE(about.isVisible());
}

}  // namespace
}  // namespace pelvaron::ui
