#pragma once

#include "widgets/template_dialog.h"

namespace pelvaron::ui {

// The about box (dialog 100): the program icon, the version text and OK.
class CAboutBox : public TemplateDialog {
  Q_OBJECT
 public:
  explicit CAboutBox(QWidget* parent = nullptr, std::optional<BaseUnits> units = std::nullopt);
};

}  // namespace pelvaron::ui
