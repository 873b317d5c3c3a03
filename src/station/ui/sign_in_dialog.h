#pragma once

#include <QDialog>
#include <QString>

#include <string>
#include <vector>

#include "station/station_data.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace pelvaron::ui {

// An operator's name from the station's list and his PIN or password. Never
// modal: monitoring and the alarm queue go on while it is open. It only asks;
// whoever opened it checks the secret (off the window's thread) and answers
// with refuse() or closes it.
class SignInDialog : public QDialog {
  Q_OBJECT
 public:
  enum class Purpose {
    SignIn,        // "Вход оператора": "Войти", "Позже"
    ConfirmSenior  // a senior operator's own PIN before a senior's work
  };

  SignInDialog(Purpose purpose, const std::vector<OperatorAccount>& operators, const std::string& preferred,
               QWidget* parent = nullptr);

  Purpose purpose() const { return purpose_; }
  QString name() const;
  QString secret() const;
  // A plain line above the buttons: who works now.
  void note(const QString& text);
  QLineEdit* secretEdit() const { return secret_; }
  QLabel* messageLabel() const { return message_; }

  // While the secret is checked: nothing can be asked twice.
  void setChecking(bool checking);
  // A wrong secret: said in the dialog, the secret cleared for another try.
  void refuse(const QString& text);

 signals:
  void submitted(const QString& name, const QString& secret);

 private:
  void submit();

  Purpose purpose_;
  QComboBox* names_ = nullptr;
  QLineEdit* secret_ = nullptr;
  QLabel* message_ = nullptr;
  QPushButton* ok_ = nullptr;
};

}  // namespace pelvaron::ui
