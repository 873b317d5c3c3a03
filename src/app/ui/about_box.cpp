#include "about_box.h"

#include <QPushButton>

namespace pelvaron::ui {

CAboutBox::CAboutBox(QWidget* parent, std::optional<BaseUnits> units)
    : TemplateDialog(res::IDD_ABOUTBOX, parent, units) {
  buildControls();
  setWindowIcon(ResourceIcon(res::IDI_PROGRAM));
  connect(control<QPushButton>(res::IDOK), &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace pelvaron::ui
