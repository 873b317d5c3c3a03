#include "station/ui/sign_in_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "station/station_checks.h"
#include "widgets/qt_texts.h"

namespace pelvaron::ui {

SignInDialog::SignInDialog(Purpose purpose, const std::vector<OperatorAccount>& operators,
                           const std::string& preferred, QWidget* parent)
    : QDialog(parent), purpose_(purpose) {
  const bool signIn = purpose == Purpose::SignIn;
  setObjectName(signIn ? QStringLiteral("signInDialog") : QStringLiteral("seniorCheckDialog"));
  setWindowTitle(signIn ? QStringLiteral("Вход оператора") : QStringLiteral("Подтверждение старшего оператора"));
  names_ = new QComboBox(this);
  names_->setObjectName(QStringLiteral("operatorNameBox"));
  for (const OperatorAccount& account : operators) {
    if (signIn || account.senior) names_->addItem(Utf8(account.name));
  }
  if (const int at = names_->findText(Utf8(preferred)); at >= 0) names_->setCurrentIndex(at);
  secret_ = new QLineEdit(this);
  secret_->setObjectName(QStringLiteral("secretEdit"));
  secret_->setEchoMode(QLineEdit::Password);
  secret_->setMaxLength(static_cast<int>(kMaxSecretChars));
  message_ = new QLabel(this);
  message_->setObjectName(QStringLiteral("signInMessage"));
  message_->setWordWrap(true);
  message_->hide();

  auto* form = new QFormLayout;
  if (!signIn) {
    form->addRow(new QLabel(QStringLiteral("Это может сделать только старший оператор."), this));
  }
  form->addRow(QStringLiteral("&Оператор"), names_);
  form->addRow(QStringLiteral("&ПИН-код или пароль"), secret_);
  auto* buttons = new QDialogButtonBox(this);
  ok_ = buttons->addButton(signIn ? QStringLiteral("Войти") : QStringLiteral("Подтвердить"),
                           QDialogButtonBox::AcceptRole);
  ok_->setObjectName(QStringLiteral("signInButton"));
  QPushButton* later =
      buttons->addButton(signIn ? QStringLiteral("Позже") : QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
  later->setObjectName(QStringLiteral("laterButton"));
  later->setAutoDefault(false);
  ok_->setDefault(true);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(message_);
  layout->addWidget(buttons);
  // The dialog stays open until the secret is checked: "Войти" only asks.
  connect(ok_, &QPushButton::clicked, this, &SignInDialog::submit);
  connect(later, &QPushButton::clicked, this, &QDialog::reject);
  secret_->setFocus(Qt::OtherFocusReason);
}

QString SignInDialog::name() const {
  return names_->currentText();
}

QString SignInDialog::secret() const {
  return secret_->text();
}

void SignInDialog::note(const QString& text) {
  message_->setStyleSheet({});
  message_->setText(text);
  message_->show();
}

void SignInDialog::submit() {
  if (names_->currentIndex() < 0) return;
  if (secret_->text().isEmpty()) {
    refuse(QStringLiteral("Введите ПИН-код или пароль."));
    return;
  }
  emit submitted(name(), secret_->text());
}

void SignInDialog::setChecking(bool checking) {
  ok_->setEnabled(!checking);
  names_->setEnabled(!checking);
  secret_->setEnabled(!checking);
  if (checking) note(QStringLiteral("Проверка…"));
}

void SignInDialog::refuse(const QString& text) {
  setChecking(false);
  message_->setStyleSheet(QStringLiteral("QLabel { color: #C00000; }"));
  message_->setText(text);
  message_->show();
  secret_->clear();
  secret_->setFocus(Qt::OtherFocusReason);
}

}  // namespace pelvaron::ui
