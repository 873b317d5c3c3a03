#pragma once

#include <optional>

#include "widgets/template_dialog.h"

namespace pelvaron::ui {

// The progress window of a receiver settings exchange (dialog 137): modeless,
// a thin frame without caption, statics 1016 (centred both ways) and 1017.
class CExchangeProgressDlg : public TemplateDialog {
  Q_OBJECT
 public:
  explicit CExchangeProgressDlg(QWidget* owner, std::optional<BaseUnits> units = std::nullopt);

  QString text1016() const;
  QString text1017() const;

 public slots:
  // Sets both texts and paints them at once, so each attempt shows before it
  // is made.
  void setTexts(const QString& text1016, const QString& text1017);
  // Shows the window centred over its owner (over the screen without one).
  void showCentred();
  // A line under the template's two: the program ends once the exchange has.
  void setClosingNotice(bool shown);
  QString closingNotice() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace pelvaron::ui
