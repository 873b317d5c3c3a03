#pragma once

#include <QString>

#include <optional>

#include "widgets/template_dialog.h"

namespace pelvaron::ui {

class ToolTips;

// The object card (dialog 145) as a view. One instance serves every opening:
// the shell sets the members and runs it; opening puts them into the
// controls. "Зарегистрировать объект" reads the controls back and asks the
// shell to register (registerRequested); "Удалить объект" asks it to delete
// (deleteRequested); the shell closes the card with accept() when the table
// changed. "Отмена", Esc and the close button close it as cancelled.
class CObjectCardDlg : public TemplateDialog {
  Q_OBJECT
 public:
  explicit CObjectCardDlg(QWidget* parent = nullptr, std::optional<BaseUnits> units = std::nullopt);

  int m_nSlot = -1;        // -1: a new object; else the slot being edited
  QString m_strAddress;    // edit 1023
  QString m_strPeriod;     // edit 1024
  QString m_strComment;    // edit 1025, "\r\n" line breaks
  int m_bControl = 0;      // check box 1028
  QString m_strLoop1Type;  // edit 1026
  QString m_strLoop2Type;  // edit 1027
  QString m_strState;      // edit 1029, shown only

  // false: the members into the controls, with the card's text limits of
  // objects/object_card.h (a line break counts two); true: the controls into
  // the members. A text over its limit is refused with a notice (and false)
  // instead of being cut.
  bool updateData(bool saveAndValidate);

  ToolTips* tipCtrl() const { return tips_; }

 public slots:
  void OnRegister();
  void OnDelete();
  void OnCancel();
  // Esc and the close button: as "Отмена".
  void reject() override;

 signals:
  void registerRequested();
  void deleteRequested();
  void cancelled();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  ToolTips* tips_ = nullptr;
};

}  // namespace pelvaron::ui
