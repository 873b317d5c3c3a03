// The object card, the state window, the two settings pages in their sheet
// and the progress window.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

#include "alarms/ui/alarm_queue_window.h"
#include "alarms/ui/history_window.h"
#include "app/ui/console_window.h"
#include "gui_support.h"
#include "link/ui/exchange_progress_dlg.h"
#include "link/ui/receiver_settings_page.h"
#include "objects/object_card.h"
#include "objects/ui/object_card_dlg.h"
#include "objects/ui/object_state_dlg.h"
#include "protocol/ui/settings_page.h"
#include "res/resources.h"
#include "widgets/edits.h"
#include "widgets/notice.h"
#include "widgets/property_sheet.h"
#include "widgets/tool_tips.h"

namespace pelvaron::ui {
namespace {

using testing::GuiApp;

constexpr BaseUnits kUnits{6, 13};

// Types any text, one key event per character, as a keyboard layout would.
void Type(QWidget* widget, const QString& text) {
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &release);
  }
}

// Notices go to a list instead of a box while a test runs.
class Notices {
 public:
  Notices() {
    SetNoticeHook([this](QWidget*, const QString& text, const QString& title, QMessageBox::Icon icon) {
      shown.push_back({text, title, icon});
    });
  }
  ~Notices() { SetNoticeHook({}); }
  struct Notice {
    QString text, title;
    QMessageBox::Icon icon;
  };
  std::vector<Notice> shown;
};

TEST(ObjectCard, EditLimitsStopTyping) {
  GuiApp();
  CObjectCardDlg card(nullptr, kUnits);
  card.updateData(false);
  struct Case {
    int id;
    int limit;
  } lines[] = {{1023, 4}, {1024, 4}, {1026, 100}, {1027, 100}};
  for (const Case& c : lines) {
    auto* edit = card.control<LimitedLineEdit>(c.id);
    edit->clear();
    QTest::keyClicks(edit, QString(c.limit + 3, QChar('7')));
    EXPECT_EQ(edit->text().size(), c.limit) << c.id;
  }
  auto* comment = card.control<LimitedTextEdit>(1025);
  QTest::keyClicks(comment, QString(120, QChar('k')));
  EXPECT_EQ(comment->text().size(), 100);
  // A line break counts two, as the stored text has "\r\n".
  comment->setText(QString(97, QChar('k')));
  comment->moveCursor(QTextCursor::End);
  QTest::keyClick(comment, Qt::Key_Return, Qt::ControlModifier);
  QTest::keyClicks(comment, QStringLiteral("abc"));
  EXPECT_EQ(comment->text(), QString(97, QChar('k')) + "\r\na");
  EXPECT_EQ(card.control<LimitedTextEdit>(1029)->limit(), 200);
}

// The template's label tells the operator the limit the card's rules apply.
TEST(ObjectCard, TheCommentLabelNamesTheLimitTheRulesApply) {
  const res::DialogTemplate* dialog = res::FindDialog(res::IDD_OBJECT_CARD);
  ASSERT_NE(dialog, nullptr);
  int labels = 0;
  for (const res::ControlTemplate& c : dialog->controls) {
    if (c.text.find("Краткие комментарии") == std::string_view::npos) continue;
    ++labels;
    EXPECT_NE(c.text.find("до " + std::to_string(kCardCommentLimit) + " символов"), std::string_view::npos)
        << c.text;
  }
  EXPECT_EQ(labels, 1);
}

TEST(ObjectCard, MembersRoundTripThroughTheControls) {
  GuiApp();
  CObjectCardDlg card(nullptr, kUnits);
  card.m_strAddress = "0005";
  card.m_strPeriod = "3h";
  card.m_strComment = "Офис\r\nвторой этаж";
  card.m_bControl = 1;
  card.m_strLoop1Type = "Не определён";
  card.m_strLoop2Type = "дверь";
  card.m_strState = "Состояние объекта - Норма";
  card.show();  // opening puts the members into the controls
  EXPECT_EQ(card.control<LimitedLineEdit>(1023)->text(), QString("0005"));
  EXPECT_EQ(card.control<LimitedTextEdit>(1025)->toPlainText(), QString("Офис\nвторой этаж"));
  EXPECT_TRUE(card.control<QCheckBox>(1028)->isChecked());
  EXPECT_TRUE(card.control<LimitedTextEdit>(1029)->isReadOnly());
  card.m_strAddress.clear();
  card.m_strComment.clear();
  card.m_bControl = 0;
  ASSERT_TRUE(card.updateData(true));
  EXPECT_EQ(card.m_strAddress, QString("0005"));
  EXPECT_EQ(card.m_strComment, QString("Офис\r\nвторой этаж"));
  EXPECT_EQ(card.m_bControl, 1);
  EXPECT_EQ(card.m_strLoop2Type, QString("дверь"));
  card.done(QDialog::Rejected);
}

TEST(ObjectCard, OverlongMemberIsShownWholeThenRefused) {
  GuiApp();
  Notices notices;
  CObjectCardDlg card(nullptr, kUnits);
  card.m_strAddress = "1234567";
  card.updateData(false);
  EXPECT_EQ(card.control<LimitedLineEdit>(1023)->text(), QString("1234567"));
  QSignalSpy registered(&card, &CObjectCardDlg::registerRequested);
  card.control<QPushButton>(1030)->click();
  EXPECT_EQ(registered.count(), 0);
  ASSERT_EQ(notices.shown.size(), 1u);
  EXPECT_EQ(notices.shown[0].icon, QMessageBox::Warning);
  // It can be shortened, not lengthened.
  auto* edit = card.control<LimitedLineEdit>(1023);
  edit->setCursorPosition(7);
  QTest::keyClicks(edit, "8");
  EXPECT_EQ(edit->text(), QString("1234567"));
  for (int i = 0; i < 3; ++i) QTest::keyClick(edit, Qt::Key_Backspace);
  QTest::keyClicks(edit, "9");
  EXPECT_EQ(edit->text(), QString("1234"));
  card.control<QPushButton>(1030)->click();
  EXPECT_EQ(registered.count(), 1);
  EXPECT_EQ(card.m_strAddress, QString("1234"));
}

TEST(ObjectCard, RefusesCharactersWindows1251CannotHold) {
  GuiApp();
  CObjectCardDlg card(nullptr, kUnits);
  card.updateData(false);
  auto* loop = card.control<LimitedLineEdit>(1026);
  loop->clear();
  Type(loop, QStringLiteral("Дв€中ь"));
  EXPECT_EQ(loop->text(), QStringLiteral("Дв€ь"));
  auto* comment = card.control<LimitedTextEdit>(1025);
  comment->setText(QString());
  Type(comment, QStringLiteral("a中b"));
  comment->insertPlainText(QStringLiteral("c中\nd"));  // a paste
  EXPECT_EQ(comment->text(), QStringLiteral("abc\r\nd"));
}

TEST(ObjectCard, CancelEscapeAndCloseAllCancel) {
  GuiApp();
  CObjectCardDlg card(nullptr, kUnits);
  QSignalSpy cancelled(&card, &CObjectCardDlg::cancelled);
  QSignalSpy deleted(&card, &CObjectCardDlg::deleteRequested);
  for (int way = 0; way < 3; ++way) {
    card.show();
    if (way == 0) card.control<QPushButton>(1032)->click();
    if (way == 1) QTest::keyClick(&card, Qt::Key_Escape);
    if (way == 2) card.close();
    EXPECT_FALSE(card.isVisible()) << way;
    EXPECT_EQ(card.result(), QDialog::Rejected) << way;
  }
  EXPECT_EQ(cancelled.count(), 3);
  card.show();
  card.control<QPushButton>(1031)->click();
  EXPECT_EQ(deleted.count(), 1);
  EXPECT_TRUE(card.isVisible());  // the shell closes it when the object is gone
  card.accept();
  EXPECT_EQ(card.result(), QDialog::Accepted);
  // The one tool tip is on "Отмена".
  EXPECT_EQ(card.tipCtrl()->toolCount(), 1);
  EXPECT_EQ(card.tipCtrl()->text(card.control(1032)), QString("Отмена"));
}

// The comment is a multi-line edit without the want-return style: Enter is
// the dialog's, and presses the button drawn as the default.
TEST(ObjectCard, EnterInTheCommentPressesTheDefaultButtonCtrlEnterBreaksTheLine) {
  GuiApp();
  CObjectCardDlg card(nullptr, kUnits);
  QSignalSpy registered(&card, &CObjectCardDlg::registerRequested);
  card.show();
  auto* comment = card.control<LimitedTextEdit>(1025);
  comment->setFocus();
  Type(comment, QStringLiteral("Склад"));
  QTest::keyClick(comment, Qt::Key_Return);
  EXPECT_EQ(comment->text(), QStringLiteral("Склад"));
  EXPECT_TRUE(card.control<QPushButton>(1030)->isDefault());
  EXPECT_EQ(registered.count(), 1);
  QTest::keyClick(comment, Qt::Key_Return, Qt::ControlModifier);
  QTest::keyClicks(comment, QStringLiteral("2"));
  EXPECT_EQ(comment->text(), QStringLiteral("Склад\r\n2"));
  EXPECT_EQ(registered.count(), 1);
  card.done(QDialog::Rejected);
}

TEST(ObjectState, ShowsTheInformationReadOnly) {
  GuiApp();
  CObjectStateDlg state(nullptr, kUnits);
  state.m_strInfo = "  Информация о состоянии объекта с адресом '0001':\r\n\r\n  Состояние объекта - Норма";
  state.show();
  auto* edit = state.control<LimitedTextEdit>(1026);
  EXPECT_TRUE(edit->isReadOnly());
  EXPECT_EQ(edit->document()->blockCount(), 3);
  EXPECT_EQ(edit->text(), state.m_strInfo);
  state.control<QPushButton>(res::IDOK)->click();
  EXPECT_EQ(state.result(), QDialog::Accepted);
}

TEST(SettingsPage, MembersRoundTrip) {
  GuiApp();
  auto* page = new Settings(nullptr, kUnits);
  PropertySheet sheet(page);
  page->m_bSaveProtocol = 1;
  page->m_nComPort = 2;
  page->m_strProtocolPath = "protocol.txt";
  page->m_strAttempts = "12";
  sheet.show();
  EXPECT_TRUE(page->control<QCheckBox>(1007)->isChecked());
  EXPECT_EQ(page->control<QComboBox>(1006)->currentText(), QString("COM3"));
  EXPECT_EQ(page->control<LimitedLineEdit>(1020)->text(), QString("12"));
  page->control<QCheckBox>(1007)->setChecked(false);
  page->control<QComboBox>(1006)->setCurrentIndex(5);
  auto* attempts = page->control<LimitedLineEdit>(1020);
  attempts->clear();
  QTest::keyClicks(attempts, "123");
  sheet.okButton()->click();
  EXPECT_EQ(sheet.result(), QDialog::Accepted);
  EXPECT_EQ(page->m_bSaveProtocol, 0);
  EXPECT_EQ(page->m_nComPort, 5);
  EXPECT_EQ(page->m_strAttempts, QString("12"));
  EXPECT_EQ(page->m_strProtocolPath, QString("protocol.txt"));
}

TEST(SettingsPage, PortOutsideTheRowsShowsNone) {
  GuiApp();
  Settings page(nullptr, kUnits);
  page.m_nComPort = 9;
  page.updateData(false);
  EXPECT_EQ(page.control<QComboBox>(1006)->currentIndex(), -1);
  page.updateData(true);
  EXPECT_EQ(page.m_nComPort, -1);
}

TEST(SettingsPage, TooLongPathKeepsTheSheetOpen) {
  GuiApp();
  Notices notices;
  auto* page = new Settings(nullptr, kUnits);
  PropertySheet sheet(page);
  page->m_strAttempts = "12";
  page->setFileChooser(
      [](QWidget*) { return std::optional<QString>("/" + QString(100, QChar('p')) + ".txt"); });
  sheet.show();
  page->control<QComboBox>(1006)->setCurrentIndex(3);
  page->control<QPushButton>(1008)->click();
  // The whole path is shown, and the port keeps what the operator chose.
  EXPECT_EQ(page->control<LimitedLineEdit>(1011)->text().size(), 105);
  EXPECT_EQ(page->control<QComboBox>(1006)->currentIndex(), 3);
  sheet.okButton()->click();
  EXPECT_TRUE(sheet.isVisible());
  ASSERT_EQ(notices.shown.size(), 1u);
  EXPECT_TRUE(notices.shown[0].text.contains("100"));
  // Shortened, it passes.
  page->control<LimitedLineEdit>(1011)->setText("/tmp/p.txt");
  sheet.okButton()->click();
  EXPECT_FALSE(sheet.isVisible());
  EXPECT_EQ(page->m_strProtocolPath, QString("/tmp/p.txt"));
  EXPECT_EQ(page->m_nComPort, 3);
}

TEST(SettingsPage, CancelledBrowseChangesNothing) {
  GuiApp();
  Settings page(nullptr, kUnits);
  page.m_strProtocolPath = "protocol.txt";
  page.updateData(false);
  page.setFileChooser([](QWidget*) { return std::optional<QString>(); });
  page.OnBrowseProtocolFile();
  EXPECT_EQ(page.control<LimitedLineEdit>(1011)->text(), QString("protocol.txt"));
}

TEST(SettingsPage, FileDialogSetUp) {
  GuiApp();
  QFileDialog dialog;
  Settings::PrepareProtocolFileDialog(dialog);
  // What the operator reads in the list of file types...
  auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
  ASSERT_NE(types, nullptr);
  ASSERT_EQ(types->count(), 2);
  EXPECT_EQ(types->itemText(0), "Текстовые файлы (*.txt)");
  EXPECT_EQ(types->itemText(1), "Все файлы (*.*)");
  // ...and what they match: every file, names without a dot too.
  EXPECT_TRUE(dialog.nameFilters().at(1).endsWith("(*)"));
  EXPECT_EQ(dialog.defaultSuffix(), QString("txt"));
  EXPECT_EQ(dialog.fileMode(), QFileDialog::AnyFile);
  EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
}

TEST(PropertySheet, UntitledWithADisabledApply) {
  GuiApp();
  PropertySheet sheet(new Pult_settings(nullptr, kUnits));
  // Blank, but not empty: the window system would show the program's name.
  EXPECT_TRUE(sheet.windowTitle().trimmed().isEmpty());
  EXPECT_FALSE(sheet.windowTitle().isEmpty());
  EXPECT_FALSE(sheet.applyButton()->isEnabled());
  EXPECT_EQ(sheet.tabs()->count(), 1);
  EXPECT_EQ(sheet.tabs()->tabText(0), QString("Настройки Велдор"));
  sheet.show();
  sheet.cancelButton()->click();
  EXPECT_EQ(sheet.result(), QDialog::Rejected);
}

TEST(ReceiverPage, MembersRoundTrip) {
  GuiApp();
  struct Case {
    int check, interval, rings, mainFormat, count;
  } cases[] = {{1, 1, 2, 0, 1}, {0, 3, -1, 1, 0}, {1, -1, 4, -1, -1}};
  for (const Case& c : cases) {
    Pult_settings page(nullptr, kUnits);
    page.m_bCheckLine = c.check;
    page.m_nCheckInterval = c.interval;
    page.m_nPickupRings = c.rings;
    page.m_nMainFormat = c.mainFormat;
    page.m_nFormatCount = c.count;
    page.updateData(false);
    page.m_bCheckLine = 7;
    page.m_nCheckInterval = page.m_nPickupRings = page.m_nMainFormat = page.m_nFormatCount = 9;
    page.updateData(true);
    EXPECT_EQ(page.m_bCheckLine, c.check);
    EXPECT_EQ(page.m_nCheckInterval, c.interval);
    EXPECT_EQ(page.m_nPickupRings, c.rings);
    EXPECT_EQ(page.m_nMainFormat, c.mainFormat);
    EXPECT_EQ(page.m_nFormatCount, c.count);
  }
}

TEST(ReceiverPage, ControlsDoNotDependOnOneAnother) {
  GuiApp();
  Pult_settings page(nullptr, kUnits);
  page.updateData(false);
  EXPECT_FALSE(page.control<QCheckBox>(1012)->isChecked());
  EXPECT_TRUE(page.control<QComboBox>(1013)->isEnabled());
  page.control<QRadioButton>(1035)->click();
  page.control<QRadioButton>(1037)->click();
  page.updateData(true);
  EXPECT_EQ(page.m_nMainFormat, 1);
  EXPECT_EQ(page.m_nFormatCount, 1);
}

TEST(ProgressWindow, FramelessCentredAndShowsItsTexts) {
  GuiApp();
  CConsoleDlg owner(nullptr, kUnits);
  owner.move(100, 80);
  owner.show();
  CExchangeProgressDlg progress(&owner, kUnits);
  EXPECT_TRUE(progress.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_FALSE(progress.isModal());
  progress.setTexts("Идёт обмен информацией ...", "Попытка связи 1 из 12");
  progress.showCentred();
  EXPECT_TRUE(progress.isVisible());
  EXPECT_LE((progress.frameGeometry().center() - owner.frameGeometry().center()).manhattanLength(), 2);
  progress.setTexts("Идёт обмен информацией ...", "Попытка связи 3 из 12");
  EXPECT_EQ(progress.text1017(), QString("Попытка связи 3 из 12"));
  auto* text = progress.control<QLabel>(1016);
  EXPECT_EQ(text->alignment(), Qt::AlignHCenter | Qt::AlignVCenter);

  // Closing during the exchange: a line more, whole, in a window grown for it
  // and still centred.
  const int height = progress.height();
  progress.setClosingNotice(true);
  EXPECT_FALSE(progress.closingNotice().isEmpty());
  auto* notice = progress.findChild<QLabel*>("closingNotice");
  ASSERT_NE(notice, nullptr);
  EXPECT_GT(progress.height(), height);
  EXPECT_TRUE(progress.rect().contains(notice->geometry()));
  EXPECT_GE(notice->height(), notice->heightForWidth(notice->width()));
  EXPECT_LE((progress.frameGeometry().center() - owner.frameGeometry().center()).manhattanLength(), 2);
  EXPECT_EQ(progress.text1017(), QString("Попытка связи 3 из 12"));
}

// The share of a control's outermost ring of pixels, as its window shows
// them, in the highlight colour.
double HighlightedEdge(QWidget* control) {
  QWidget* window = control->window();
  const QImage image = window->grab(QRect(control->mapTo(window, QPoint(0, 0)), control->size())).toImage();
  const QRgb highlight = window->palette().color(QPalette::Active, QPalette::Highlight).rgb();
  int ring = 0, lit = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (x != 0 && y != 0 && x != image.width() - 1 && y != image.height() - 1) continue;
      ++ring;
      lit += (image.pixel(x, y) & 0xFFFFFF) == (highlight & 0xFFFFFF) ? 1 : 0;
    }
  }
  return ring == 0 ? 0.0 : static_cast<double>(lit) / ring;
}

// Every control the keyboard reaches shows that it has the focus, and only
// while it has it: the event log, push buttons, read-only edits included.
TEST(FocusFrame, EveryControlShowsTheFocusWhileItHasIt) {
  GuiApp();
  CConsoleDlg console(nullptr, kUnits);
  CObjectCardDlg card(nullptr, kUnits);
  CObjectStateDlg state(nullptr, kUnits);
  PropertySheet programSettings(new Settings(nullptr, kUnits));
  PropertySheet receiverSettings(new Pult_settings(nullptr, kUnits));
  AlarmQueueWindow queue;
  AlarmRow alarm;
  alarm.entry.id = 1;
  alarm.entry.text = "Пожарная тревога";
  alarm.entry.needsAck = true;
  queue.setView({{alarm}, false, true, {}});
  HistoryWindow history("events.sqlite", PriorityTable::Defaults());
  for (QWidget* window : std::initializer_list<QWidget*>{&console, &card, &state, &programSettings, &receiverSettings,
                                                         &queue, &history}) {
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    std::vector<QWidget*> controls;
    for (QWidget* w : window->findChildren<QWidget*>())
      if ((w->focusPolicy() & Qt::TabFocus) && w->isVisible() && w->isEnabled() && !w->focusProxy())
        controls.push_back(w);
    ASSERT_GE(controls.size(), 2u) << window->metaObject()->className();
    for (QWidget* control : controls) {
      control->setFocus(Qt::TabFocusReason);
      ASSERT_TRUE(control->hasFocus());
      const QString name = control->metaObject()->className() + QString(" ") + control->objectName();
      EXPECT_GT(HighlightedEdge(control), 0.9) << name.toStdString();
      QWidget* other = control == controls.front() ? controls.back() : controls.front();
      other->setFocus(Qt::TabFocusReason);
      EXPECT_LT(HighlightedEdge(control), 0.5) << name.toStdString();
    }
    window->hide();
  }
}

}  // namespace
}  // namespace pelvaron::ui
