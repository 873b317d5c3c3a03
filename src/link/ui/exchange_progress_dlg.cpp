#include "link/ui/exchange_progress_dlg.h"

#include <QLabel>
#include <QPainter>
#include <QScreen>

namespace pelvaron::ui {

namespace {

constexpr char kClosingNoticeName[] = "closingNotice";

}  // namespace

CExchangeProgressDlg::CExchangeProgressDlg(QWidget* owner, std::optional<BaseUnits> units)
    : TemplateDialog(res::IDD_EXCHANGE_PROGRESS, owner, units) {
  setModal(false);
  buildControls();
}

void CExchangeProgressDlg::setClosingNotice(bool shown) {
  auto* notice = findChild<QLabel*>(kClosingNoticeName);
  if (!shown) {
    if (notice) {
      delete notice;
      setFixedSize(builder().clientSize());
    }
    return;
  }
  if (notice) return;
  notice = new QLabel(QStringLiteral("Программа закроется, как только обмен закончится."), this);
  notice->setObjectName(kClosingNoticeName);
  notice->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  notice->setWordWrap(true);
  // Under the attempt line, as wide as the window allows; the window grows
  // to hold it.
  const QRect area = builder().toPixels(6, 52, 133, 8);
  notice->setGeometry(area.x(), area.y(), area.width(), notice->heightForWidth(area.width()));
  notice->show();
  const QPoint centre = frameGeometry().center();
  setFixedSize(width(), notice->geometry().bottom() + builder().toPixels(0, 0, 0, 6).height());
  if (isVisible()) {
    QRect rect(QPoint(0, 0), size());
    rect.moveCenter(centre);
    move(rect.topLeft());
    repaint();
  }
}

QString CExchangeProgressDlg::closingNotice() const {
  auto* notice = findChild<QLabel*>(kClosingNoticeName);
  return notice ? notice->text() : QString();
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
