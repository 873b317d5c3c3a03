#pragma once

#include <QDialog>
#include <QWidget>

#include <optional>

#include "widgets/dialog_builder.h"

class QPushButton;
class QTabWidget;

namespace pelvaron::ui {

// A property page made from a template; its caption names its tab.
class PropertyPage : public QWidget {
  Q_OBJECT
 public:
  PropertyPage(int templateId, QWidget* parent, std::optional<BaseUnits> units);

  QString caption() const;
  const DialogBuilder& builder() const { return builder_; }
  template <class T = QWidget>
  T* control(int id) const {
    return findChild<T*>(ControlName(id));
  }

  // false: the members into the controls; true: the controls into the
  // members with their checks. A failed check has told the operator and
  // returns false.
  virtual bool updateData(bool saveAndValidate) = 0;
  // Leaving the page (OK): false keeps the sheet open.
  virtual bool onKillActive() { return updateData(true); }

 protected:
  DialogBuilder& editableBuilder() { return builder_; }
  void buildControls();

 private:
  DialogBuilder builder_;
};

// An untitled property sheet with one page and the buttons OK, Cancel and a
// disabled Apply: nothing ever marks the page as changed. Its title is blank.
class PropertySheet : public QDialog {
  Q_OBJECT
 public:
  // Takes the page over.
  explicit PropertySheet(PropertyPage* page, QWidget* parent = nullptr);

  PropertyPage* page() const { return page_; }
  QTabWidget* tabs() const { return tabs_; }
  QPushButton* okButton() const { return ok_; }
  QPushButton* cancelButton() const { return cancel_; }
  QPushButton* applyButton() const { return apply_; }

 public slots:
  // OK: the page's checks, then accepted; a failed check keeps the sheet open.
  void onOk();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  PropertyPage* page_;
  QTabWidget* tabs_;
  QPushButton* ok_;
  QPushButton* cancel_;
  QPushButton* apply_;
  bool initialised_ = false;
};

}  // namespace pelvaron::ui
