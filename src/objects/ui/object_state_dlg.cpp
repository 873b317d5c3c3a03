#include "objects/ui/object_state_dlg.h"

#include <QPushButton>
#include <QShowEvent>

#include "widgets/edits.h"

namespace pelvaron::ui {

CObjectStateDlg::CObjectStateDlg(QWidget* parent, std::optional<BaseUnits> units)
    : TemplateDialog(res::IDD_OBJECT_STATE, parent, units) {
  buildControls();
  connect(control<QPushButton>(res::IDOK), &QPushButton::clicked, this, &QDialog::accept);
}

void CObjectStateDlg::updateData(bool saveAndValidate) {
  auto* info = control<LimitedTextEdit>(res::IDC_STATE_INFO);
  if (saveAndValidate)
    m_strInfo = info->text();
  else
    info->setText(m_strInfo);
}

void CObjectStateDlg::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    updateData(false);
    control(res::IDOK)->setFocus();
  }
  TemplateDialog::showEvent(event);
}

}  // namespace pelvaron::ui
