#pragma once

#include <QObject>

#include "app/console_access.h"
#include "widgets/command_host.h"

namespace pelvaron::ui {

class CObjectCardDlg;

// The object list's commands (menu 144), the object card and the state
// window. Questions are asked here before a command is posted; the card's
// opening values come from the console's table and what the operator typed
// goes back to it.
class ObjectCommandsUi : public QObject {
  Q_OBJECT
 public:
  // The card is made at once, owned by the host's window.
  ObjectCommandsUi(CommandHost& host, ConsoleAccess& console, QObject* parent = nullptr);

  CObjectCardDlg& card() { return *card_; }

  // A command of menu 144 with the row selected when it was chosen (-1: none).
  void onObjectCommand(int id, int row);
  // A double click on the list: the state window of the selected row's object.
  void onStateInfo(int row);

 private:
  void openCard(bool newObject, int row);
  void onCardRegister();
  void onCardDelete();

  CommandHost& host_;
  ConsoleAccess& console_;
  CObjectCardDlg* card_ = nullptr;
  bool cardBusy_ = false;  // the object card is open or opening
};

}  // namespace pelvaron::ui
