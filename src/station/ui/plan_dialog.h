#pragma once

#include <QDialog>
#include <QString>

#include "station/station_data.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

namespace pelvaron::ui {

// "План реагирования": an object's plan or a priority's default plan, as the
// operator types it: the instructions, the key holders in calling order
// (name, role, telephones), the guard group and its telephone. It only asks
// to save: whoever opened it saves and answers with refuse() (the form stays
// as typed) or closes it.
class PlanDialog : public QDialog {
  Q_OBJECT
 public:
  // Holder table's columns; telephones separated by ";" or ",".
  enum Column { kName, kRole, kPhones, kColumnCount };

  // title: "План объекта 0012", "План по умолчанию для приоритета «Пожар»".
  PlanDialog(const ResponsePlan& plan, const QString& title, QWidget* parent = nullptr);

  // The plan as the form holds it now.
  ResponsePlan plan() const;
  bool isPlan(const std::string& address, const std::string& priority) const {
    return address == address_ && priority == priority_;
  }

  QTableWidget* holders() const { return holders_; }
  QLabel* messageLabel() const { return message_; }

  void setSaving(bool saving);
  // Saving refused: the reason shown in the dialog, nothing typed is lost.
  void refuse(const QString& text);

  // "+7 812 555-12-34; 8 900 111-22-33" as the phones it names.
  static std::vector<std::string> SplitPhones(const QString& text);

  // Esc or "Отмена" over a changed form asks first: nothing typed goes by a stray key.
  void reject() override;

 signals:
  void saveRequested(const pelvaron::ResponsePlan& plan);

 private:
  void addHolder();
  void removeHolder();
  void moveHolder(int by);
  void updateButtons();

  std::string address_, priority_;
  ResponsePlan opened_;  // as it was opened: what "changed" is measured against
  QPlainTextEdit* instructions_ = nullptr;
  QTableWidget* holders_ = nullptr;
  QLineEdit* guardGroup_ = nullptr;
  QLineEdit* guardPhone_ = nullptr;
  QLabel* message_ = nullptr;
  QPushButton* add_ = nullptr;
  QPushButton* remove_ = nullptr;
  QPushButton* up_ = nullptr;
  QPushButton* down_ = nullptr;
  QPushButton* save_ = nullptr;
};

}  // namespace pelvaron::ui
