#include "objects/ui/object_commands_ui.h"

#include "app/console.h"
#include "objects/object_card.h"
#include "objects/object_commands.h"
#include "objects/ui/object_card_dlg.h"
#include "objects/ui/object_state_dlg.h"
#include "res/resources.h"
#include "widgets/notice.h"

namespace pelvaron::ui {
namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}
std::string S(const QString& s) {
  return s.toStdString();
}

}  // namespace

ObjectCommandsUi::ObjectCommandsUi(CommandHost& host, ConsoleAccess& console, QObject* parent)
    : QObject(parent), host_(host), console_(console) {
  card_ = new CObjectCardDlg(host_.dialogOwner());
  connect(card_, &CObjectCardDlg::registerRequested, this, &ObjectCommandsUi::onCardRegister);
  connect(card_, &CObjectCardDlg::deleteRequested, this, &ObjectCommandsUi::onCardDelete);
}

void ObjectCommandsUi::onObjectCommand(int id, int row) {
  const int slot = row + 1;  // no selection gives 0, which no command acts on
  switch (id) {
    case res::ID_OBJECT_NEW:
      openCard(true, row);
      break;
    case res::ID_OBJECT_EDIT:
      if (row >= 0) openCard(false, row);
      break;
    case res::ID_OBJECTS_CLEAR_ALL:
      if (host_.ask(ClearAllObjectsQuestion()))
        host_.post(OnConsole(console_, [](Console& c, ObjectCard&) { ClearAllObjects(c.Objects()); }));
      break;
    case res::ID_OBJECTS_RESET_COUNTERS:
      host_.post(OnConsole(console_, [](Console& c, ObjectCard&) { ResetAllCounters(c.Objects()); }));
      break;
    case res::ID_OBJECTS_CONTROL_ON:
    case res::ID_OBJECTS_CONTROL_OFF:
      host_.post(OnConsole(console_, [on = id == res::ID_OBJECTS_CONTROL_ON](Console& c, ObjectCard&) {
        SetControlAll(c.Objects(), on);
      }));
      break;
    case res::ID_OBJECT_CONTROL_ON:
    case res::ID_OBJECT_CONTROL_OFF:
      host_.post(OnConsole(console_, [slot, on = id == res::ID_OBJECT_CONTROL_ON](Console& c, ObjectCard&) {
        SetControl(c.Objects(), slot, on);
      }));
      break;
    case res::ID_OBJECT_RESET_COUNTER:
      host_.post(OnConsole(console_, [slot](Console& c, ObjectCard&) { ResetCounter(c.Objects(), slot); }));
      break;
    case res::ID_OBJECT_DELETE:
      if (row < 0) break;
      host_.post<OperatorMessage>(
          OnConsole(console_, [slot](Console& c, ObjectCard&) { return DeleteObjectQuestion(c.Objects(), slot); }),
          [this, slot](OperatorMessage question) {
            if (question.text.empty() || !host_.ask(question)) return;
            host_.post(OnConsole(console_, [slot](Console& c, ObjectCard&) { DeleteObject(c.Objects(), slot); }));
          });
      break;
    default:
      break;
  }
}

void ObjectCommandsUi::openCard(bool newObject, int row) {
  if (cardBusy_) return;  // the one card is open (or opening) already
  cardBusy_ = true;
  const int slot = row + 1;
  // The card's opening values come from the console's table.
  host_.post<bool>(
      OnConsole(console_, [newObject, slot](Console& c, ObjectCard& card) {
        return newObject ? BeginNewObject(c.Objects(), card) : BeginEditObject(c.Objects(), card, slot);
      }),
      [this, newObject](bool open) {
        if (!open) {
          cardBusy_ = false;
          return;
        }
        host_.post<ObjectCard>(
            OnConsole(console_, [](Console&, ObjectCard& card) { return card; }),
            [this, newObject](ObjectCard values) {
              card_->m_nSlot = values.m_nSlot;
              card_->m_strAddress = Q(values.m_strAddress);
              card_->m_strPeriod = Q(values.m_strPeriod);
              card_->m_strComment = Q(values.m_strComment);
              card_->m_bControl = values.m_bControl;
              card_->m_strLoop1Type = Q(values.m_strLoop1Type);
              card_->m_strLoop2Type = Q(values.m_strLoop2Type);
              card_->m_strState = Q(values.m_strState);
              const int result = ExecWindowModal(*card_);
              cardBusy_ = false;
              const CardResult cardResult = result == QDialog::Accepted ? CardResult::Ok : CardResult::Cancel;
              if (newObject) {
                host_.post(OnConsole(console_, [](Console& c, ObjectCard& card) { EndNewObject(c.Objects(), card); }));
              } else {
                host_.post(OnConsole(console_, [cardResult](Console& c, ObjectCard&) { EndEditObject(c.Objects(), cardResult); }));
              }
            });
      });
}

void ObjectCommandsUi::onCardRegister() {
  ObjectCard typed;
  typed.m_nSlot = card_->m_nSlot;
  typed.m_strAddress = S(card_->m_strAddress);
  typed.m_strPeriod = S(card_->m_strPeriod);
  typed.m_strComment = S(card_->m_strComment);
  typed.m_bControl = card_->m_bControl;
  typed.m_strLoop1Type = S(card_->m_strLoop1Type);
  typed.m_strLoop2Type = S(card_->m_strLoop2Type);
  typed.m_strState = S(card_->m_strState);
  card_->setEnabled(false);  // one registration at a time
  host_.post<std::optional<OperatorMessage>>(
      OnConsole(console_, [typed](Console& c, ObjectCard& card) {
        const int added = card.bNewObjectAdded;
        card = typed;
        card.bNewObjectAdded = added;
        return RegisterObjectCard(card, c.Objects());
      }),
      [this](std::optional<OperatorMessage> refusal) {
        card_->setEnabled(true);
        if (refusal) {
          // The card stays open for correction; this box belongs to the card.
          host_.showMessageAndWait(*refusal, card_);
          return;
        }
        card_->accept();
      });
}

void ObjectCommandsUi::onCardDelete() {
  if (card_->m_nSlot == -1) return;
  if (!host_.ask(CardDeleteQuestion(), card_)) return;
  host_.post<bool>(OnConsole(console_, [](Console& c, ObjectCard& card) { return DeleteObjectFromCard(card, c.Objects()); }),
                   [this](bool deleted) {
                     if (deleted) card_->accept();
                   });
}

void ObjectCommandsUi::onStateInfo(int row) {
  if (row < 0) return;
  host_.post<std::string>(
      OnConsole(console_, [slot = row + 1](Console& c, ObjectCard&) { return ObjectStateInfo(c.Objects(), slot); }),
      [this](std::string info) {
        if (info.empty()) return;
        CObjectStateDlg dlg(host_.dialogOwner());
        dlg.m_strInfo = Q(info);
        ExecWindowModal(dlg);
      });
}

}  // namespace pelvaron::ui
