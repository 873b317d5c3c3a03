#include "link/ui/exchange_progress_dlg.h"

#include <QLabel>
#include <QPainter>
#include <QScreen>

namespace pelvaron::ui {

CExchangeProgressDlg::CExchangeProgressDlg(QWidget* owner, std::optional<BaseUnits> units)
    : TemplateDialog(res::IDD_EXCHANGE_PROGRESS, owner, units) {
  setModal(false);
  buildControls();
}

QString CExchangeProgressDlg::text1016() const {
  return control<QLabel>(res::IDC_PROGRESS_TEXT)->text();
}
QString CExchangeProgressDlg::text1017() const {
  return control<QLabel>(res::IDC_PROGRESS_ATTEMPT)->text();
}

void CExchangeProgressDlg::setTexts(const QString& text1016, const QString& text1017) {
  control<QLabel>(res::IDC_PROGRESS_TEXT)->setText(text1016);
  control<QLabel>(res::IDC_PROGRESS_ATTEMPT)->setText(text1017);
  if (isVisible()) repaint();
}

void CExchangeProgressDlg::showCentred() {
  QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
  QRect over = owner ? owner->frameGeometry() : (screen() ? screen()->availableGeometry() : QRect());
  QRect rect(QPoint(0, 0), size());
  rect.moveCenter(over.center());
  move(rect.topLeft());
  show();
  raise();
  repaint();
}

void CExchangeProgressDlg::paintEvent(QPaintEvent* event) {
  TemplateDialog::paintEvent(event);
  // The thin frame the window has instead of a caption.
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace pelvaron::ui
