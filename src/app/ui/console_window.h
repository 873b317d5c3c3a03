#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/operator.h"
#include "widgets/dialog_builder.h"

class QMenu;
class QMenuBar;
class QTreeWidget;

namespace pelvaron::ui {

class EventLogList;
class StatusField;
class ToolTips;

// The main console window (dialog 102) as a view: menu 129, the object list,
// the event log, "Очистить", the four status fields with their colours, the
// tool tips and the about box. It holds no console logic: commands leave as
// signals, and the console's state comes in through the slots.
//
// The close box and "Выход" emit closeRequested() and leave the window open;
// the shell closes the port, then calls finish(). Enter (unless "Очистить" has
// the focus) and Esc only emit exitKeyPressed(): a stray key must not stop
// the monitoring, so the shell asks first.
class CConsoleDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CConsoleDlg(QWidget* parent = nullptr, std::optional<BaseUnits> units = std::nullopt);
  ~CConsoleDlg() override;

  // Members bound to the controls (see updateData).
  QTreeWidget* m_listObjects = nullptr;    // control 1022
  EventLogList* m_listProtocol = nullptr;  // control 1000
  QString m_strDateTime;                   // static 1002, at most 20 characters
  QString m_strLinkState;                  // static 1005
  QString m_strCaseState;                  // static 1006
  QString m_strLineState;                  // static 1007
  ToolTips* m_tipCtrl = nullptr;
  QIcon m_hMainIcon;  // icon 128
  // The flags that colour the status fields (1 = in order).
  int bLinkOk = 0;
  int bCaseClosed = 1;
  int bLineOk = 1;

  static constexpr int kMaxDateTimeChars = 20;

  // false: the four texts and the flags into the status fields; true: the
  // fields' texts back into the members (the date cut to 20 characters).
  void updateData(bool saveAndValidate = false);

  // The selected row of the object list, or -1.
  int selectedRow() const;
  // Menu 144 as the right click would open it now (greyed items without a
  // selection); the caller owns it.
  std::unique_ptr<QMenu> createObjectMenu();
  // Items beside the console's own in the right click's menu, after menu 144's
  // (which stays as it is): given the menu and the selected row (-1: none).
  void setObjectMenuExtras(std::function<void(QMenu&, int)> extras) { objectMenuExtras_ = std::move(extras); }
  // Where menu 144 would open now for a click at the cursor.
  QPoint objectMenuPosition(QPoint cursor) const;

  template <class T = QWidget>
  T* control(int id) const {
    return findChild<T*>(ControlName(id));
  }
  QMenuBar* mainMenuBar() const { return menuBar_; }
  // The status strip at the window's foot (its four group boxes), in screen coordinates.
  QRect statusStripOnScreen() const;
  QWidget* client() const { return client_; }
  const DialogBuilder& builder() const { return builder_; }

 public slots:
  // The status fields and their flags, as the tick has set them.
  void setStatus(const pelvaron::StatusView& status);
  // Rebuilds the object list; the selection is lost, as with every refill.
  void setObjectRows(const std::vector<pelvaron::ObjectListRow>& rows);
  // The event log: addLine keeps the 400-line bound by itself.
  void addLine(const QString& line);
  void removeFirst();
  void clearLog();

  void showAboutBox();
  // Runs a command of menu 129 or 144 as if it had been chosen.
  void triggerCommand(int id);
  // Ends the modal run (the shell's last step of closing).
  void finish(int result = QDialog::Accepted);

 signals:
  void closeRequested();
  void exitKeyPressed();
  // Every command of menus 129 and 144, by id, after its own signal below.
  void menuCommand(int id);
  void openProtocolFileRequested();  // 32787
  void programSettingsRequested();   // 32771
  void receiverSettingsRequested();  // 32773
  void aboutRequested();             // 32774, the box is shown by the window itself
  void alarmQueueRequested();        // 32789
  void eventHistoryRequested();      // 32790
  void reportsRequested();           // 32799
  void clearLogRequested();          // button 1003
  // A command of menu 144 with the row selected when it was chosen (-1: none).
  void objectCommand(int id, int selectedRow);
  // Right click and double click on the object list, with the selected row.
  void objectListRightClicked(int selectedRow);
  void objectListDoubleClicked(int selectedRow);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void reject() override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void setupToolTips();
  void layoutMenuBar();
  void onObjectListRightClick();

  DialogBuilder builder_;
  QMenuBar* menuBar_ = nullptr;
  QWidget* client_ = nullptr;
  StatusField* linkField_ = nullptr;
  StatusField* caseField_ = nullptr;
  StatusField* lineField_ = nullptr;
  std::function<void(QMenu&, int)> objectMenuExtras_;
};

}  // namespace pelvaron::ui
