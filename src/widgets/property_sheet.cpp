#include "widgets/property_sheet.h"

#include <QBoxLayout>
#include <QPushButton>
#include <QTabWidget>

#include "widgets/focus_frame.h"
#include "widgets/qt_texts.h"
#include "widgets/template_dialog.h"

namespace pelvaron::ui {

namespace {

DialogBuilder MakeBuilder(int id, std::optional<BaseUnits> units) {
  const res::DialogTemplate& dialog = *res::FindDialog(id);
  return units ? DialogBuilder(dialog, *units) : DialogBuilder(dialog);
}

}  // namespace

PropertyPage::PropertyPage(int templateId, QWidget* parent, std::optional<BaseUnits> units)
    : QWidget(parent), builder_(MakeBuilder(templateId, units)) {
  setObjectName(QStringLiteral("page%1").arg(templateId));
}

QString PropertyPage::caption() const {
  return Utf8(builder_.dialogTemplate().caption);
}

void PropertyPage::buildControls() {
  builder_.build(this);
}

PropertySheet::PropertySheet(PropertyPage* page, QWidget* parent) : QDialog(parent), page_(page) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  // Untitled. Qt hands an empty title to the window manager as the program's
  // name, so the title is a space: the title bar stays blank.
  setWindowTitle(QStringLiteral(" "));
  setFont(page->builder().font());

  tabs_ = new QTabWidget(this);
  tabs_->setObjectName(QStringLiteral("tabs"));
  tabs_->addTab(page, page->caption());

  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setObjectName(QStringLiteral("c%1").arg(res::IDOK));
  ok_->setDefault(true);
  cancel_ = new QPushButton(QStringLiteral("Отмена"), this);
  cancel_->setObjectName(QStringLiteral("c%1").arg(res::IDCANCEL));
  apply_ = new QPushButton(QStringLiteral("Применить"), this);
  apply_->setObjectName(QStringLiteral("apply"));
  apply_->setEnabled(false);

  // Margins and buttons in dialog units of the page's font.
  const DialogBuilder& units = page->builder();
  const QRect margin = units.toPixels(7, 7, 50, 14);
  const int gap = units.toPixels(4, 0, 0, 0).x();
  for (QPushButton* button : {ok_, cancel_, apply_}) button->setFixedSize(margin.width(), margin.height());

  auto* buttons = new QHBoxLayout();
  buttons->setSpacing(gap);
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  buttons->addWidget(apply_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(margin.x(), margin.y(), margin.x(), margin.y());
  layout->setSpacing(margin.y());
  layout->addWidget(tabs_);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  FocusFrame::Install(this);
  connect(ok_, &QPushButton::clicked, this, &PropertySheet::onOk);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

void PropertySheet::showEvent(QShowEvent* event) {
  // The page gets its members when the sheet first shows it.
  if (!initialised_) {
    initialised_ = true;
    page_->updateData(false);
  }
  QDialog::showEvent(event);
}

void PropertySheet::onOk() {
  if (!page_->onKillActive()) return;
  accept();
}

}  // namespace pelvaron::ui
