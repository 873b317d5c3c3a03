#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace pelvaron::ui {

class LimitedLineEdit;

// "Действие по тревоге": what the operator did about an alarm, to be
// recorded with its time and his name. A call names the key holder (from
// the object's plan, or typed) and what came of it. Nothing is recorded
// without "Записать": Enter and Space take no button the operator did not aim at.
class AlarmActionDialog : public QDialog {
  Q_OBJECT
 public:
  // keyHolders: "Иванов И.И. (директор), +7 900 111-22-33" lines of the plan, in calling order.
  AlarmActionDialog(const QString& alarm, const QStringList& keyHolders, QWidget* parent = nullptr);

  // Chooses an action by its code (kAlarmActions).
  void choose(const QString& code);
  QString code() const;
  // The action's detail as the records keep it: for a call "WHOM: RESULT".
  QString detail() const;

 private:
  void update();

  QComboBox* action_ = nullptr;
  QComboBox* whom_ = nullptr;
  QComboBox* result_ = nullptr;
  LimitedLineEdit* note_ = nullptr;
  QLabel* whomLabel_ = nullptr;
  QLabel* resultLabel_ = nullptr;
  QPushButton* record_ = nullptr;
};

// "Закрытие тревоги": the outcome, chosen from the fixed list (a digit key
// chooses by its number), and a note ("Другое" needs one). The alarm closes
// only by "Закрыть тревогу": no default button, no close by a stray Enter.
class CloseAlarmDialog : public QDialog {
  Q_OBJECT
 public:
  explicit CloseAlarmDialog(const QString& alarm, QWidget* parent = nullptr);

  QString outcome() const;  // a code of kAlarmOutcomes, or empty when none is chosen
  QString note() const;
  QListWidget* outcomes() const { return outcomes_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // A digit chose the outcome of its number.
  bool chooseByDigit(const QKeyEvent* event);
  void update();

  QListWidget* outcomes_ = nullptr;
  LimitedLineEdit* note_ = nullptr;
  QPushButton* close_ = nullptr;
};

}  // namespace pelvaron::ui
