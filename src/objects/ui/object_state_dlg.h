#pragma once

#include <QString>

#include <optional>

#include "widgets/template_dialog.h"

namespace pelvaron::ui {

// The state information window (dialog 146): m_strInfo in a read-only
// multi-line edit, and OK.
class CObjectStateDlg : public TemplateDialog {
  Q_OBJECT
 public:
  explicit CObjectStateDlg(QWidget* parent = nullptr, std::optional<BaseUnits> units = std::nullopt);

  QString m_strInfo;  // edit 1026, "\r\n" line breaks

  void updateData(bool saveAndValidate);

 protected:
  void showEvent(QShowEvent* event) override;
};

}  // namespace pelvaron::ui
