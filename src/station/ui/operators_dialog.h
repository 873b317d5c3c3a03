#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <string>
#include <vector>

#include "core/result.h"
#include "station/station_data.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace pelvaron {
class StationStore;
}

namespace pelvaron::ui {

// "Операторы": the station's list, for a senior operator who has given his
// own PIN already: add an operator with a PIN, remove one, change a PIN, make
// senior or plain. Each change is one transaction of the store, made off the
// window's thread (hashing takes its tenth of a second); a refusal is said in
// the dialog in the store's words.
class OperatorsDialog : public QDialog {
  Q_OBJECT
 public:
  OperatorsDialog(std::string storePath, const std::vector<OperatorAccount>& operators, QWidget* parent = nullptr);

  QListWidget* list() const { return list_; }
  QLabel* messageLabel() const { return message_; }
  const std::vector<OperatorAccount>& operators() const { return operators_; }
  bool busy() const { return busy_; }

  // The steps behind the buttons, the questions already answered.
  void addOperator(const std::string& name, const std::string& secret, bool senior);
  void removeOperator(const std::string& name);
  void setSecret(const std::string& name, const std::string& secret);
  void setSenior(const std::string& name, bool senior);

 signals:
  // The list as the store holds it after a change.
  void changed(const std::vector<pelvaron::OperatorAccount>& operators);

 private:
  void change(std::function<Result<>(StationStore&)> step, QString done);
  void showList(const std::vector<OperatorAccount>& operators);
  void say(const QString& text, bool refusal);
  std::string chosenName() const;
  void updateButtons();
  void onAdd();
  void onRemove();
  void onSecret();

  std::string path_;
  std::vector<OperatorAccount> operators_;
  QListWidget* list_ = nullptr;
  QLabel* message_ = nullptr;
  QPushButton* add_ = nullptr;
  QPushButton* remove_ = nullptr;
  QPushButton* secret_ = nullptr;
  QPushButton* senior_ = nullptr;
  bool busy_ = false;
};

}  // namespace pelvaron::ui
