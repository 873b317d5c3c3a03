#include "station/ui/station_commands_ui.h"

#include <QMessageBox>
#include <QWidget>

#include <utility>
#include <vector>

#include "alarms/alarm_desk.h"
#include "station/station_checks.h"
#include "station/station_store.h"
#include "station/ui/off_thread.h"
#include "station/ui/operators_dialog.h"
#include "station/ui/plan_dialog.h"
#include "station/ui/plans_list_dialog.h"
#include "station/ui/sign_in_dialog.h"
#include "widgets/notice.h"
#include "widgets/qt_texts.h"

namespace pelvaron::ui {

namespace {

constexpr char kTitle[] = "Операторы и планы";

void Present(QWidget* w) {
  w->show();
  w->raise();
  w->activateWindow();
}

// A change of the store, then every plan as it holds them now.
Result<std::vector<ResponsePlan>> ChangePlans(const std::string& path, const std::function<Result<>(StationStore&)>& step) {
  StationStore store;
  if (Result<> opened = store.Open(path, StationStore::Mode::ReadWrite); !opened) return opened.problem();
  if (Result<> made = step(store); !made) return made.problem();
  return store.Plans();
}

}  // namespace

StationCommandsUi::StationCommandsUi(CommandHost& host, AlarmDesk& desk, std::string storePath, QObject* parent)
    : QObject(parent), host_(host), desk_(desk), cache_(std::move(storePath)) {
  connect(&cache_, &StationCache::changed, this, [this] {
    if (askAtStart_ && cache_.hasOperators() && !current_) openSignIn(false);
    askAtStart_ = false;
  });
  connect(&cache_, &StationCache::failed, this, [this](const QString& text) {
    askAtStart_ = false;
    host_.showMessage({text.toStdString() + " Планы и вход операторов недоступны; наблюдение продолжается.", kTitle,
                       MessageIcon::Exclamation});
  });
}

StationCommandsUi::~StationCommandsUi() {
  for (QWidget* w : std::initializer_list<QWidget*>{signIn_, senior_, plan_, plans_, operators_}) delete w;
}

// Open ones only: a closed dialog waits a moment for its deletion.
SignInDialog* StationCommandsUi::signInDialog() const {
  return signIn_ && signIn_->isVisible() ? signIn_.data() : nullptr;
}
SignInDialog* StationCommandsUi::seniorDialog() const {
  return senior_ && senior_->isVisible() ? senior_.data() : nullptr;
}
PlanDialog* StationCommandsUi::planDialog() const {
  return plan_ && plan_->isVisible() ? plan_.data() : nullptr;
}
PlansListDialog* StationCommandsUi::plansDialog() const {
  return plans_ && plans_->isVisible() ? plans_.data() : nullptr;
}
OperatorsDialog* StationCommandsUi::operatorsDialog() const {
  return operators_ && operators_->isVisible() ? operators_.data() : nullptr;
}

void StationCommandsUi::start() {
  askAtStart_ = true;
  cache_.reload();
}

QString StationCommandsUi::priorityTitle(const std::string& name) const {
  return Utf8(desk_.table().TitleOf(name));
}

bool StationCommandsUi::storeRead() {
  if (cache_.loaded()) return true;
  cache_.reload();
  host_.showMessage({"Данные станции (" + cache_.path() + ") ещё читаются; повторите через несколько секунд.", kTitle,
                     MessageIcon::Information});
  return false;
}

// Sign-in and shift change.

void StationCommandsUi::signIn() {
  openSignIn(false);
}

void StationCommandsUi::changeShift() {
  openSignIn(true);
}

void StationCommandsUi::openSignIn(bool shift) {
  if (signIn_ && signIn_->isVisible()) {
    Present(signIn_);
    return;
  }
  if (!storeRead()) return;
  if (!cache_.hasOperators()) {
    host_.showMessage({"Список операторов станции пуст: входить некому. Старшего оператора добавляют в "
                       "«Тревоги» → «Операторы…».",
                       kTitle, MessageIcon::Information});
    return;
  }
  auto* dialog = new SignInDialog(SignInDialog::Purpose::SignIn, cache_.operators(), "", host_.dialogOwner());
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  if (shift && current_) {
    dialog->setWindowTitle(QStringLiteral("Смена оператора"));
    dialog->note(QStringLiteral("Сейчас работает %1; он закончит работу, когда войдёт следующий.")
                     .arg(Utf8(current_->name)));
  }
  connect(dialog, &SignInDialog::submitted, this, [this, dialog] {
    checkSecret(dialog, [this, dialog](const OperatorAccount& account) {
      setOperator(account);
      dialog->accept();
    });
  });
  signIn_ = dialog;
  Present(dialog);
}

void StationCommandsUi::signOut() {
  if (!current_) return;
  setOperator(std::nullopt);
}

void StationCommandsUi::setOperator(std::optional<OperatorAccount> account) {
  current_ = std::move(account);
  AlarmDesk* desk = &desk_;
  // On the console's thread, between ticks: it writes "закончил работу" for the one before.
  host_.post([desk, name = current_ ? current_->name : std::string()] { desk->SetOperator(name); });
  emit signedInChanged();
}

void StationCommandsUi::checkSecret(SignInDialog* dialog, std::function<void(const OperatorAccount&)> right) {
  dialog->setChecking(true);
  const std::string name = dialog->name().toStdString();
  const std::string secret = dialog->secret().toStdString();
  QPointer<SignInDialog> shown(dialog);
  using Answer = Result<std::optional<OperatorAccount>>;
  RunOffThread<Answer>(
      this,
      [path = cache_.path(), name, secret, hook = beforeSecretCheck]() -> Answer {
        if (hook) hook();
        StationStore store;
        if (Result<> opened = store.Open(path, StationStore::Mode::ReadOnly); !opened) return opened.problem();
        return store.CheckSecret(name, secret);
      },
      [this, shown, name, right = std::move(right)](Answer answer) {
        if (!answer) {
          if (shown) shown->refuse(Utf8(answer.problem().Told()));
          return;
        }
        if (!*answer) {
          AlarmDesk* desk = &desk_;
          host_.post([desk, name] { desk->RecordRefusedSignIn(name); });
          if (shown) {
            shown->refuse(QStringLiteral("Неверный ПИН-код или пароль оператора %1. Наберите его заново; отказ "
                                         "записан в протокол.")
                              .arg(Utf8(name)));
          }
          return;
        }
        if (shown) right(**answer);
      });
}

void StationCommandsUi::asSenior(QWidget* over, bool trustSignedIn, std::function<void()> then) {
  if (!storeRead()) return;
  if (!cache_.hasOperators() || (trustSignedIn && current_ && current_->senior)) {
    then();
    return;
  }
  if (senior_ && senior_->isVisible()) {
    Present(senior_);
    return;
  }
  const std::string preferred = current_ ? current_->name : std::string();
  auto* dialog = new SignInDialog(SignInDialog::Purpose::ConfirmSenior, cache_.operators(), preferred, over);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowModality(Qt::WindowModal);
  connect(dialog, &SignInDialog::submitted, this, [this, dialog, then = std::move(then)] {
    checkSecret(dialog, [dialog, then](const OperatorAccount& account) {
      if (!account.senior) {
        dialog->refuse(QStringLiteral("%1 не старший оператор; это может сделать только старший.")
                           .arg(Utf8(account.name)));
        return;
      }
      dialog->accept();
      then();
    });
  });
  senior_ = dialog;
  Present(dialog);
}

void StationCommandsUi::manageOperators() {
  if (operators_ && operators_->isVisible()) {
    Present(operators_);
    return;
  }
  asSenior(host_.dialogOwner(), false, [this] {
    auto* dialog = new OperatorsDialog(cache_.path(), cache_.operators(), host_.dialogOwner());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // A change still under way when the dialog closes is read from the store.
    connect(dialog, &QDialog::finished, &cache_, &StationCache::reload);
    connect(dialog, &OperatorsDialog::changed, this, [this](const std::vector<OperatorAccount>& operators) {
      // The one signed in may have been made plain or removed: his rights follow the list.
      if (current_) {
        auto it = std::find_if(operators.begin(), operators.end(),
                               [&](const OperatorAccount& a) { return a.name == current_->name; });
        if (it != operators.end()) current_ = *it;
      }
      cache_.set(cache_.plans(), operators);
      emit signedInChanged();
    });
    operators_ = dialog;
    Present(dialog);
  });
}

// Plans.

void StationCommandsUi::listPlans() {
  if (plans_ && plans_->isVisible()) {
    Present(plans_);
    return;
  }
  if (!storeRead()) return;
  std::vector<std::pair<std::string, std::string>> priorities;
  for (const Priority& p : desk_.table().priorities()) priorities.emplace_back(p.name, p.title);
  auto* dialog = new PlansListDialog(cache_, std::move(priorities), host_.dialogOwner());
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  connect(dialog, &PlansListDialog::editRequested, this, &StationCommandsUi::editPlan);
  connect(dialog, &PlansListDialog::deleteRequested, this, &StationCommandsUi::deletePlan);
  plans_ = dialog;
  Present(dialog);
}

void StationCommandsUi::editPlanFor(const std::string& address, const std::string& priorityName) {
  if (!address.empty()) {
    editPlan(address, "");
  } else if (!priorityName.empty()) {
    editPlan("", priorityName);
  }
}

void StationCommandsUi::editPlan(const std::string& address, const std::string& priority) {
  if (plan_ && plan_->isVisible()) {
    // One plan at a time: the one open is finished first.
    Present(plan_);
    return;
  }
  // Opened before the plans are read, it would show an empty plan over a stored one.
  if (!storeRead()) return;
  ResponsePlan plan = cache_.plan(address, priority).value_or(ResponsePlan{address, priority, {}, {}, {}, {}});
  const QString title = !address.empty()
                            ? QStringLiteral("План объекта ") + Utf8(address)
                            : QStringLiteral("План по умолчанию для приоритета «%1» (объекты без своего плана)")
                                  .arg(priorityTitle(priority));
  auto* dialog = new PlanDialog(plan, title, host_.dialogOwner());
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  connect(dialog, &PlanDialog::saveRequested, this, &StationCommandsUi::savePlan);
  plan_ = dialog;
  Present(dialog);
}

void StationCommandsUi::savePlan(const ResponsePlan& plan) {
  if (!plan_) return;
  // The store checks the same; said at once, without a senior's PIN first.
  if (Result<> checked = CheckPlan(plan); !checked) {
    plan_->refuse(Utf8(checked.problem().text));
    return;
  }
  QPointer<PlanDialog> dialog = plan_;
  asSenior(dialog, true, [this, dialog, plan] {
    if (!dialog) return;
    dialog->setSaving(true);
    RunOffThread<Result<std::vector<ResponsePlan>>>(
        this, [path = cache_.path(), plan] { return ChangePlans(path, [&](StationStore& s) { return s.SavePlan(plan); }); },
        [this, dialog](Result<std::vector<ResponsePlan>> saved) {
          if (!saved) {
            if (dialog) dialog->refuse(Utf8(saved.problem().Told()));
            return;
          }
          cache_.set(std::move(*saved), cache_.operators());
          if (dialog) dialog->accept();
        });
  });
}

void StationCommandsUi::deletePlan(const std::string& address, const std::string& priority) {
  QWidget* over = plans_ ? static_cast<QWidget*>(plans_) : host_.dialogOwner();
  const QString what = !address.empty() ? QStringLiteral("план объекта ") + Utf8(address)
                                        : QStringLiteral("план по умолчанию для приоритета «%1»").arg(priorityTitle(priority));
  QMessageBox ask(QMessageBox::Question, QStringLiteral("Планы реагирования"),
                  QStringLiteral("Удалить %1?").arg(what), QMessageBox::Yes | QMessageBox::No, over);
  ask.setDefaultButton(QMessageBox::No);
  if (ExecWindowModal(ask) != QMessageBox::Yes) return;
  asSenior(over, true, [this, address, priority] {
    RunOffThread<Result<std::vector<ResponsePlan>>>(
        this,
        [path = cache_.path(), address, priority] {
          return ChangePlans(path, [&](StationStore& s) { return s.DeletePlan(address, priority); });
        },
        [this](Result<std::vector<ResponsePlan>> left) {
          if (!left) {
            host_.showMessage({left.problem().Told(), kTitle, MessageIcon::Exclamation}, plans_);
            return;
          }
          cache_.set(std::move(*left), cache_.operators());
        });
  });
}

}  // namespace pelvaron::ui
