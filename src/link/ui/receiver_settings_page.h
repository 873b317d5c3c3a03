#pragma once

#include <optional>

#include "widgets/property_sheet.h"

namespace pelvaron::ui {

// The receiver settings page (dialog 133). The controls do not depend on one
// another: the interval stays usable while the check box is clear.
class Pult_settings : public PropertyPage {
  Q_OBJECT
 public:
  explicit Pult_settings(QWidget* parent = nullptr, std::optional<BaseUnits> units = std::nullopt);

  int m_bCheckLine = 0;       // check box 1012, 1 = check the line
  int m_nCheckInterval = -1;  // combo box 1013, rows 0..3, -1 = no row
  int m_nPickupRings = -1;    // combo box 1014, rows 0..4, -1 = no row
  int m_nMainFormat = 0;      // radios 1034, 1035: 0 "Ломир-Т", 1 "Contact-ID", -1 none
  int m_nFormatCount = 0;     // radios 1036, 1037: 0 "Один", 1 "Два", -1 none

  bool updateData(bool saveAndValidate) override;
};

}  // namespace pelvaron::ui
