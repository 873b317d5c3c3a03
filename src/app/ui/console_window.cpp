#include "console_window.h"

#include <QCursor>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>

#include "about_box.h"
#include "objects/ui/object_list.h"
#include "protocol/ui/event_log_view.h"
#include "widgets/focus_frame.h"
#include "widgets/notice.h"
#include "widgets/qt_texts.h"
#include "widgets/status_field.h"
#include "widgets/template_dialog.h"
#include "widgets/tool_tips.h"

namespace pelvaron::ui {

namespace {

DialogBuilder MakeBuilder(std::optional<BaseUnits> units) {
  const res::DialogTemplate& dialog = *res::FindDialog(res::IDD_CONSOLE);
  return units ? DialogBuilder(dialog, *units) : DialogBuilder(dialog);
}

}  // namespace

CConsoleDlg::CConsoleDlg(QWidget* parent, std::optional<BaseUnits> units)
    : QDialog(parent), builder_(MakeBuilder(units)) {
  m_hMainIcon = ResourceIcon(res::IDI_PROGRAM);
  const res::DialogTemplate& dialog = builder_.dialogTemplate();
  setWindowFlags(WindowFlagsFor(dialog));
  setWindowTitle(Utf8(dialog.caption));
  setWindowIcon(m_hMainIcon);
  setSizeGripEnabled(false);

  menuBar_ = new QMenuBar(this);
  menuBar_->setObjectName(QStringLiteral("menu129"));
  BuildMenuBar(*res::FindMenu(res::IDR_MAINMENU), menuBar_);
  for (QAction* action : menuBar_->findChildren<QAction*>()) {
    if (!action->data().isValid()) continue;
    int id = action->data().toInt();
    connect(action, &QAction::triggered, this, [this, id] { triggerCommand(id); });
  }

  // The controls live in a client area of the template's size below the
  // menu bar; nothing moves them when the window is resized.
  client_ = new QWidget(this);
  client_->setObjectName(QStringLiteral("client"));
  const int tabStop = MulDiv(5, builder_.units().x, 4);
  builder_.setFactory(res::IDC_PROTOCOL_LIST, [tabStop](const res::ControlTemplate&, QWidget* p) {
    return new EventLogList(tabStop, p);
  });
  for (int id : {res::IDC_LINK_STATE, res::IDC_CASE_STATE, res::IDC_LINE_STATE})
    builder_.setFactory(id, [](const res::ControlTemplate&, QWidget* p) { return new StatusField(p); });
  builder_.build(client_);

  m_listObjects = control<QTreeWidget>(res::IDC_OBJECT_LIST);
  m_listProtocol = control<EventLogList>(res::IDC_PROTOCOL_LIST);
  linkField_ = control<StatusField>(res::IDC_LINK_STATE);
  caseField_ = control<StatusField>(res::IDC_CASE_STATE);
  lineField_ = control<StatusField>(res::IDC_LINE_STATE);
  for (StatusField* field : {linkField_, caseField_, lineField_}) field->setTemplateRect(field->geometry());

  SetupObjectList(m_listObjects);
  m_listObjects->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(m_listObjects, &QWidget::customContextMenuRequested, this, [this] { onObjectListRightClick(); });
  m_listObjects->viewport()->installEventFilter(this);

  auto* clear = control<QPushButton>(res::IDC_CLEAR_LOG);
  // Enter presses "Очистить" only while it has the focus (keyPressEvent), so
  // it must not look like the window's default button the rest of the time.
  clear->setAutoDefault(false);
  clear->setDefault(false);
  connect(clear, &QPushButton::clicked, this, &CConsoleDlg::clearLogRequested);

  updateData(false);
  setupToolTips();

  layoutMenuBar();
  resize(client_->width(), client_->y() + client_->height());
  // Smaller, the window would hide the status strip at the bottom right.
  setMinimumSize(size());
  FocusFrame::Install(this);
  // The focus starts on the first control.
  m_listObjects->setFocus();
}

CConsoleDlg::~CConsoleDlg() = default;

void CConsoleDlg::setupToolTips() {
  m_tipCtrl = new ToolTips(this, 100, 1000);
  m_tipCtrl->addTool(m_listProtocol, QStringLiteral("Протокол событий"));
  m_tipCtrl->addTool(linkField_, QStringLiteral("Состояние связи с Велдор"));
  for (const res::ControlTemplate& c : builder_.dialogTemplate().controls) {
    if (c.id == res::IDC_STATIC) continue;
    std::string_view text = res::LoadString(c.id);
    if (text.empty()) continue;  // a control without a string shows no tip
    m_tipCtrl->addTool(control(c.id), Utf8(text));
  }
}

void CConsoleDlg::layoutMenuBar() {
  int height = 0;
  if (!menuBar_->isNativeMenuBar()) {
    height = menuBar_->heightForWidth(width());
    if (height <= 0) height = menuBar_->sizeHint().height();
  }
  menuBar_->setGeometry(0, 0, width(), height);
  client_->move(0, height);
}

void CConsoleDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  layoutMenuBar();
}

void CConsoleDlg::updateData(bool saveAndValidate) {
  auto* dateTime = control<QLabel>(res::IDC_DATE_TIME);
  if (saveAndValidate) {
    m_strDateTime = dateTime->text().left(kMaxDateTimeChars);
    m_strLinkState = linkField_->text();
    m_strCaseState = caseField_->text();
    m_strLineState = lineField_->text();
    return;
  }
  dateTime->setText(m_strDateTime);
  linkField_->setFieldText(m_strLinkState);
  caseField_->setFieldText(m_strCaseState);
  lineField_->setFieldText(m_strLineState);
  linkField_->setFlag(bLinkOk);
  caseField_->setFlag(bCaseClosed);
  lineField_->setFlag(bLineOk);
}

void CConsoleDlg::setStatus(const StatusView& status) {
  m_strDateTime = Utf8(status.m_strDateTime);
  m_strLinkState = Utf8(status.m_strLinkState);
  m_strCaseState = Utf8(status.m_strCaseState);
  m_strLineState = Utf8(status.m_strLineState);
  bLinkOk = status.bLinkOk;
  bCaseClosed = status.bCaseClosed;
  bLineOk = status.bLineOk;
  updateData(false);
}

void CConsoleDlg::setObjectRows(const std::vector<ObjectListRow>& rows) {
  FillObjectList(m_listObjects, rows);
}

void CConsoleDlg::addLine(const QString& line) {
  m_listProtocol->addLine(line);
}
void CConsoleDlg::removeFirst() {
  m_listProtocol->removeFirst();
}
void CConsoleDlg::clearLog() {
  m_listProtocol->clearLog();
}

QRect CConsoleDlg::statusStripOnScreen() const {
  // The group boxes of the template's lowest row, "Связь с Велдор" to "Дата / Время".
  int row = 0;
  for (const res::ControlTemplate& c : builder_.dialogTemplate().controls) {
    if (c.kind == res::ControlKind::GroupBox) row = std::max(row, c.y);
  }
  QRect strip;
  for (const res::ControlTemplate& c : builder_.dialogTemplate().controls) {
    if (c.kind == res::ControlKind::GroupBox && c.y == row) strip |= builder_.toPixels(c.x, c.y, c.cx, c.cy);
  }
  return QRect(client_->mapToGlobal(strip.topLeft()), strip.size());
}

int CConsoleDlg::selectedRow() const {
  return SelectedObjectRow(m_listObjects);
}

std::unique_ptr<QMenu> CConsoleDlg::createObjectMenu() {
  auto menu = std::make_unique<QMenu>(this);
  menu->setObjectName(QStringLiteral("menu144"));
  BuildObjectMenu(menu.get(), selectedRow() >= 0);
  return menu;
}

QPoint CConsoleDlg::objectMenuPosition(QPoint cursor) const {
  return ObjectMenuPosition(m_listObjects, cursor);
}

void CConsoleDlg::onObjectListRightClick() {
  emit objectListRightClicked(selectedRow());
  QPoint at = objectMenuPosition(QCursor::pos());
  std::unique_ptr<QMenu> menu = createObjectMenu();
  if (objectMenuExtras_) objectMenuExtras_(*menu, selectedRow());
  QAction* chosen = menu->exec(at);
  if (chosen != nullptr && chosen->data().isValid()) triggerCommand(chosen->data().toInt());
}

void CConsoleDlg::triggerCommand(int id) {
  switch (id) {
    case res::ID_EXIT:
      emit menuCommand(id);
      emit closeRequested();
      return;
    case res::ID_ABOUT:
      emit aboutRequested();
      emit menuCommand(id);
      showAboutBox();
      return;
    case res::ID_OPEN_PROTOCOL:
      emit openProtocolFileRequested();
      break;
    case res::ID_PROGRAM_SETTINGS:
      emit programSettingsRequested();
      break;
    case res::ID_RECEIVER_SETTINGS:
      emit receiverSettingsRequested();
      break;
    case res::ID_ALARM_QUEUE:
      emit alarmQueueRequested();
      break;
    case res::ID_EVENT_HISTORY:
      emit eventHistoryRequested();
      break;
    case res::ID_REPORTS:
      emit reportsRequested();
      break;
    default:
      // The commands of menu 144 act on the row selected now; a refill
      // while the menu was open may have taken it away.
      emit objectCommand(id, selectedRow());
      break;
  }
  emit menuCommand(id);
}

void CConsoleDlg::showAboutBox() {
  CAboutBox box(this);
  ExecWindowModal(box);
}

void CConsoleDlg::finish(int result) {
  QDialog::done(result);
}

void CConsoleDlg::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
  if (!enter && key != Qt::Key_Escape) {
    QDialog::keyPressEvent(event);
    return;
  }
  // Never to QDialog's own handling: its Esc would end the window at once.
  const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
  if (!plain) return;
  auto* clear = control<QPushButton>(res::IDC_CLEAR_LOG);
  if (enter && focusWidget() == clear) {
    clear->click();
    return;
  }
  emit exitKeyPressed();
}

// The close box comes here through QDialog's close handling.
void CConsoleDlg::reject() {
  emit closeRequested();
}

bool CConsoleDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_listObjects->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton) {
      // Let the list handle the click first, then report the selection.
      bool handled = QDialog::eventFilter(watched, event);
      emit objectListDoubleClicked(selectedRow());
      return handled;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace pelvaron::ui
