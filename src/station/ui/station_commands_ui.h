#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>
#include <string>

#include "station/station_data.h"
#include "station/station_schema.h"
#include "station/ui/station_cache.h"
#include "widgets/command_host.h"

namespace pelvaron {
class AlarmDesk;
}

namespace pelvaron::ui {

class OperatorsDialog;
class PlanDialog;
class PlansListDialog;
class SignInDialog;

// The operators' sign-in and the response plans in the window. Monitoring
// never waits for either: every dialog here is modal at most to the main
// window, the secrets are checked and the store written off the window's
// thread and off the console's, and the desk hears of a sign-in by a posted
// call. A station without station.sqlite, or with no operators in it, works
// without signing in.
class StationCommandsUi : public QObject {
  Q_OBJECT
 public:
  StationCommandsUi(CommandHost& host, AlarmDesk& desk, std::string storePath = kStationStoreFileName,
                    QObject* parent = nullptr);
  ~StationCommandsUi() override;

  StationCache& cache() { return cache_; }
  // Once the main window shows: reads the store, then asks for a sign-in
  // when the station keeps a list of operators.
  void start();

  void signIn();           // "Вход оператора…"
  void changeShift();      // "Смена оператора…": the next one signs in, the desk records out, then in
  void signOut();          // "Выход оператора"
  void manageOperators();  // "Операторы…", after a senior's own PIN
  void listPlans();        // "Планы реагирования…"
  // The object's own plan; for an alarm of no object, its priority's default.
  void editPlanFor(const std::string& address, const std::string& priorityName);
  void editPlan(const std::string& address, const std::string& priority);

  const std::optional<OperatorAccount>& signedIn() const { return current_; }
  QString priorityTitle(const std::string& name) const;

  // The dialogs while open, else nullptr.
  SignInDialog* signInDialog() const;
  SignInDialog* seniorDialog() const;
  PlanDialog* planDialog() const;
  PlansListDialog* plansDialog() const;
  OperatorsDialog* operatorsDialog() const;

  // Runs on the thread that checks a secret, just before (tests see where).
  std::function<void()> beforeSecretCheck;

 signals:
  void signedInChanged();

 private:
  void openSignIn(bool shift);
  void setOperator(std::optional<OperatorAccount> account);
  // The secret typed in dialog, checked off the window's thread; right() when it is right.
  void checkSecret(SignInDialog* dialog, std::function<void(const OperatorAccount&)> right);
  // then() once a senior operator has said so: at once when the station
  // keeps no list, or (trustSignedIn) a senior is signed in; else after a
  // senior's PIN in a dialog over `over`.
  void asSenior(QWidget* over, bool trustSignedIn, std::function<void()> then);
  bool storeRead();
  void savePlan(const ResponsePlan& plan);
  void deletePlan(const std::string& address, const std::string& priority);

  CommandHost& host_;
  AlarmDesk& desk_;
  StationCache cache_;
  std::optional<OperatorAccount> current_;
  bool askAtStart_ = false;
  QPointer<SignInDialog> signIn_;
  QPointer<SignInDialog> senior_;
  QPointer<PlanDialog> plan_;
  QPointer<PlansListDialog> plans_;
  QPointer<OperatorsDialog> operators_;
};

}  // namespace pelvaron::ui
