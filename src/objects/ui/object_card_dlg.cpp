#include "objects/ui/object_card_dlg.h"

#include <QCheckBox>
#include <QPushButton>
#include <QShowEvent>

#include "objects/object_card.h"
#include "widgets/edits.h"
#include "widgets/notice.h"
#include "widgets/tool_tips.h"

namespace pelvaron::ui {

CObjectCardDlg::CObjectCardDlg(QWidget* parent, std::optional<BaseUnits> units)
    : TemplateDialog(res::IDD_OBJECT_CARD, parent, units) {
  buildControls();
  // The tool-tip control with its one tool: the cancel button, showing its string.
  tips_ = new ToolTips(this, 500, 5000);
  std::string_view cancelTip = res::LoadString(res::IDC_CARD_CANCEL);
  tips_->addTool(control(res::IDC_CARD_CANCEL),
                 QString::fromUtf8(cancelTip.data(), static_cast<qsizetype>(cancelTip.size())));

  connect(control<QPushButton>(res::IDC_CARD_REGISTER), &QPushButton::clicked, this,
          &CObjectCardDlg::OnRegister);
  connect(control<QPushButton>(res::IDC_CARD_DELETE), &QPushButton::clicked, this, &CObjectCardDlg::OnDelete);
  connect(control<QPushButton>(res::IDC_CARD_CANCEL), &QPushButton::clicked, this, &CObjectCardDlg::OnCancel);
}

bool CObjectCardDlg::updateData(bool saveAndValidate) {
  auto* address = control<LimitedLineEdit>(res::IDC_CARD_ADDRESS);
  auto* period = control<LimitedLineEdit>(res::IDC_CARD_PERIOD);
  auto* comment = control<LimitedTextEdit>(res::IDC_CARD_COMMENT);
  auto* check = control<QCheckBox>(res::IDC_CARD_CONTROL);
  auto* loop1 = control<LimitedLineEdit>(res::IDC_CARD_LOOP1);
  auto* loop2 = control<LimitedLineEdit>(res::IDC_CARD_LOOP2);
  auto* state = control<LimitedTextEdit>(res::IDC_CARD_STATE);
  if (!saveAndValidate) {
    address->setLimit(static_cast<int>(kCardAddressLimit));
    period->setLimit(static_cast<int>(kCardPeriodLimit));
    comment->setLimit(static_cast<int>(kCardCommentLimit));
    // Enter is the dialog's: the way to a second line is told where it is typed.
    comment->setToolTip(QStringLiteral("Новая строка: Ctrl+Enter"));
    comment->setPlaceholderText(QStringLiteral("Новая строка: Ctrl+Enter"));
    loop1->setLimit(static_cast<int>(kCardLoopTypeLimit));
    loop2->setLimit(static_cast<int>(kCardLoopTypeLimit));
    state->setLimit(static_cast<int>(kCardStateLimit));
    address->setText(m_strAddress);
    period->setText(m_strPeriod);
    comment->setText(m_strComment);
    check->setChecked(m_bControl == 1);
    loop1->setText(m_strLoop1Type);
    loop1->setCursorPosition(0);
    loop2->setText(m_strLoop2Type);
    loop2->setCursorPosition(0);
    state->setText(m_strState);
    return true;
  }
  auto refuse = [this](QWidget* edit, int limit) {
    ShowNotice(this, QStringLiteral("Введите не более %1 символов.").arg(limit), QString(),
               QMessageBox::Warning);
    edit->setFocus();
    return false;
  };
  for (LimitedLineEdit* edit : {address, period, loop1, loop2})
    if (!edit->withinLimit()) return refuse(edit, edit->limit());
  for (LimitedTextEdit* edit : {comment, state})
    if (!edit->withinLimit()) return refuse(edit, edit->limit());
  m_strAddress = address->text();
  m_strPeriod = period->text();
  m_strComment = comment->text();
  m_bControl = check->isChecked() ? 1 : 0;
  m_strLoop1Type = loop1->text();
  m_strLoop2Type = loop2->text();
  m_strState = state->text();
  return true;
}

void CObjectCardDlg::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    // Opening: the members set by the caller go into the controls.
    updateData(false);
    control(res::IDC_CARD_ADDRESS)->setFocus();
  }
  TemplateDialog::showEvent(event);
}

void CObjectCardDlg::OnRegister() {
  if (!updateData(true)) return;
  emit registerRequested();
}

void CObjectCardDlg::OnDelete() {
  emit deleteRequested();
}

void CObjectCardDlg::OnCancel() {
  emit cancelled();
  QDialog::done(QDialog::Rejected);
}

void CObjectCardDlg::reject() {
  OnCancel();
}

}  // namespace pelvaron::ui
