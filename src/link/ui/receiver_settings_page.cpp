#include "link/ui/receiver_settings_page.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>

namespace pelvaron::ui {

namespace {

// A radio group's member is the checked button's place in the group from its
// first button, -1 when none is checked.
int CheckedIndex(const QButtonGroup* group) {
  const QList<QAbstractButton*> buttons = group->buttons();
  for (int i = 0; i < buttons.size(); ++i)
    if (buttons[i]->isChecked()) return i;
  return -1;
}

void CheckIndex(QButtonGroup* group, int index) {
  const QList<QAbstractButton*> buttons = group->buttons();
  // An exclusive group cannot lose its checked button otherwise.
  group->setExclusive(false);
  for (int i = 0; i < buttons.size(); ++i) buttons[i]->setChecked(i == index);
  group->setExclusive(true);
}

void SelectRow(QComboBox* combo, int row) {
  combo->setCurrentIndex(row >= 0 && row < combo->count() ? row : -1);
}

}  // namespace

Pult_settings::Pult_settings(QWidget* parent, std::optional<BaseUnits> units)
    : PropertyPage(res::IDD_RECEIVER_SETTINGS, parent, units) {
  buildControls();
}

bool Pult_settings::updateData(bool saveAndValidate) {
  auto* check = control<QCheckBox>(res::IDC_CHECK_LINE);
  auto* interval = control<QComboBox>(res::IDC_CHECK_INTERVAL);
  auto* rings = control<QComboBox>(res::IDC_PICKUP_RINGS);
  auto* formats = findChild<QButtonGroup*>(QStringLiteral("radios_%1").arg(res::IDC_FORMATS_ONE));
  auto* mainFormat = findChild<QButtonGroup*>(QStringLiteral("radios_%1").arg(res::IDC_FORMAT_LOMIR));
  if (saveAndValidate) {
    m_bCheckLine = check->isChecked() ? 1 : 0;
    m_nCheckInterval = interval->currentIndex();
    m_nPickupRings = rings->currentIndex();
    m_nMainFormat = CheckedIndex(mainFormat);
    m_nFormatCount = CheckedIndex(formats);
    return true;
  }
  check->setChecked(m_bCheckLine != 0);
  SelectRow(interval, m_nCheckInterval);
  SelectRow(rings, m_nPickupRings);
  CheckIndex(mainFormat, m_nMainFormat);
  CheckIndex(formats, m_nFormatCount);
  return true;
}

}  // namespace pelvaron::ui
