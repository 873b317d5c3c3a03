#pragma once

#include <QDateTimeEdit>
#include <QFocusEvent>

namespace pelvaron::ui {

// A date and time that Tab leaves as a whole (not section by section), and
// that takes typed digits from its first section on, each section passing
// to the next when it is full.
class WholeDateTimeEdit : public QDateTimeEdit {
 public:
  using QDateTimeEdit::QDateTimeEdit;

 protected:
  bool focusNextPrevChild(bool next) override { return QWidget::focusNextPrevChild(next); }
  void focusInEvent(QFocusEvent* event) override {
    QDateTimeEdit::focusInEvent(event);
    if (event->reason() != Qt::MouseFocusReason) setSelectedSection(sectionAt(0));
  }
};

}  // namespace pelvaron::ui
