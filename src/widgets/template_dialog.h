#pragma once

#include <QDialog>

#include <optional>

#include "widgets/dialog_builder.h"

namespace pelvaron::ui {

// Window flags that give a toplevel the frame its template asks for.
Qt::WindowFlags WindowFlagsFor(const res::DialogTemplate& dialog);

// A dialog made from a template. A derived class may register factories on
// builder() in its constructor and then calls buildControls().
class TemplateDialog : public QDialog {
  Q_OBJECT
 public:
  TemplateDialog(int templateId, QWidget* parent, std::optional<BaseUnits> units = std::nullopt);

  // The control with this id, or nullptr.
  template <class T = QWidget>
  T* control(int id) const {
    return findChild<T*>(ControlName(id));
  }
  const DialogBuilder& builder() const { return builder_; }

 protected:
  DialogBuilder& editableBuilder() { return builder_; }
  // Creates the controls in client (the dialog itself when null); a dialog
  // whose client is itself gets the template's fixed size.
  void buildControls(QWidget* client = nullptr);

 private:
  DialogBuilder builder_;
};

}  // namespace pelvaron::ui
