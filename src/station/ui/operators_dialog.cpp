#include "station/ui/operators_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "station/station_checks.h"
#include "station/station_store.h"
#include "station/ui/off_thread.h"
#include "widgets/notice.h"
#include "widgets/plain_button.h"
#include "widgets/qt_texts.h"

namespace pelvaron::ui {

namespace {

// A new operator (name, senior) or a new PIN for one: the PIN typed twice.
class SecretForm : public QDialog {
 public:
  SecretForm(const QString& title, bool withName, bool senior, QWidget* parent) : QDialog(parent) {
    setWindowTitle(title);
    auto* form = new QFormLayout;
    if (withName) {
      name_ = new QLineEdit(this);
      name_->setMaxLength(static_cast<int>(kMaxNameChars));
      form->addRow(QStringLiteral("&Имя"), name_);
    }
    first_ = new QLineEdit(this);
    second_ = new QLineEdit(this);
    for (QLineEdit* e : {first_, second_}) {
      e->setEchoMode(QLineEdit::Password);
      e->setMaxLength(static_cast<int>(kMaxSecretChars));
    }
    form->addRow(QStringLiteral("&ПИН-код или пароль"), first_);
    form->addRow(QStringLiteral("&Ещё раз"), second_);
    if (withName) {
      senior_ = new QCheckBox(QStringLiteral("&Старший оператор (правит список операторов и планы)"), this);
      senior_->setChecked(senior);
      form->addRow(senior_);
    }
    message_ = new QLabel(this);
    message_->setWordWrap(true);
    message_->setStyleSheet(QStringLiteral("QLabel { color: #C00000; }"));
    message_->hide();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(message_);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &SecretForm::check);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  }
  std::string name() const { return name_ ? name_->text().trimmed().toStdString() : std::string(); }
  std::string secret() const { return first_->text().toStdString(); }
  bool senior() const { return senior_ != nullptr && senior_->isChecked(); }

 private:
  void check() {
    Result<> r;
    if (name_ != nullptr) r = CheckOperatorName(name());
    if (r) r = CheckNewSecret(secret());
    if (r && first_->text() != second_->text()) {
      r = Problem("ПИН-коды не совпадают; наберите его дважды одинаково.");
    }
    if (!r) {
      message_->setText(Utf8(r.problem().text));
      message_->show();
      first_->clear();
      second_->clear();
      return;
    }
    accept();
  }

  QLineEdit* name_ = nullptr;
  QLineEdit* first_ = nullptr;
  QLineEdit* second_ = nullptr;
  QCheckBox* senior_ = nullptr;
  QLabel* message_ = nullptr;
};

}  // namespace

OperatorsDialog::OperatorsDialog(std::string storePath, const std::vector<OperatorAccount>& operators,
                                 QWidget* parent)
    : QDialog(parent), path_(std::move(storePath)) {
  setObjectName(QStringLiteral("operatorsDialog"));
  setWindowTitle(QStringLiteral("Операторы"));
  list_ = new QListWidget(this);
  list_->setObjectName(QStringLiteral("operatorList"));
  add_ = PlainButton(QStringLiteral("&Добавить…"), this, "addOperatorButton");
  secret_ = PlainButton(QStringLiteral("Сменить &ПИН-код…"), this, "secretButton");
  senior_ = PlainButton(QStringLiteral("&Старший"), this, "seniorButton");
  senior_->setCheckable(true);
  remove_ = PlainButton(QStringLiteral("&Удалить"), this, "removeOperatorButton");
  QPushButton* close = PlainButton(QStringLiteral("Закрыть"), this, "closeOperatorsButton");
  message_ = new QLabel(this);
  message_->setObjectName(QStringLiteral("operatorsMessage"));
  message_->setWordWrap(true);

  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {add_, secret_, senior_, remove_}) buttons->addWidget(b);
  buttons->addStretch(1);
  buttons->addWidget(close);
  auto* row = new QHBoxLayout;
  row->addWidget(list_, 1);
  row->addLayout(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row, 1);
  layout->addWidget(message_);
  resize(520, 360);

  connect(add_, &QPushButton::clicked, this, &OperatorsDialog::onAdd);
  connect(secret_, &QPushButton::clicked, this, &OperatorsDialog::onSecret);
  connect(remove_, &QPushButton::clicked, this, &OperatorsDialog::onRemove);
  connect(senior_, &QPushButton::clicked, this, [this](bool on) {
    if (!chosenName().empty()) setSenior(chosenName(), on);
  });
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  connect(list_, &QListWidget::currentRowChanged, this, &OperatorsDialog::updateButtons);
  showList(operators);
  if (operators.empty()) {
    say(QStringLiteral("Список пуст. Первым добавьте старшего оператора: он будет править список и планы."), false);
  }
}

void OperatorsDialog::showList(const std::vector<OperatorAccount>& operators) {
  const std::string chosen = chosenName();
  operators_ = operators;
  list_->clear();
  for (const OperatorAccount& account : operators_) {
    auto* item = new QListWidgetItem(Utf8(account.name) + (account.senior ? QStringLiteral(" — старший") : QString()));
    item->setData(Qt::UserRole, Utf8(account.name));
    list_->addItem(item);
    if (account.name == chosen) list_->setCurrentItem(item);
  }
  updateButtons();
}

std::string OperatorsDialog::chosenName() const {
  const QListWidgetItem* item = list_ != nullptr ? list_->currentItem() : nullptr;
  return item != nullptr ? item->data(Qt::UserRole).toString().toStdString() : std::string();
}

void OperatorsDialog::updateButtons() {
  const std::string name = chosenName();
  bool senior = false;
  for (const OperatorAccount& a : operators_) {
    if (a.name == name) senior = a.senior;
  }
  add_->setEnabled(!busy_);
  for (QPushButton* b : {secret_, senior_, remove_}) b->setEnabled(!busy_ && !name.empty());
  senior_->setChecked(senior);
}

void OperatorsDialog::say(const QString& text, bool refusal) {
  message_->setStyleSheet(refusal ? QStringLiteral("QLabel { color: #C00000; }") : QString());
  message_->setText(text);
}

void OperatorsDialog::change(std::function<Result<>(StationStore&)> step, QString done) {
  if (busy_) return;
  busy_ = true;
  updateButtons();
  say(QStringLiteral("Записывается…"), false);
  using Answer = Result<std::vector<OperatorAccount>>;
  RunOffThread<Answer>(
      this,
      [path = path_, step = std::move(step)]() -> Answer {
        StationStore store;
        if (Result<> opened = store.Open(path, StationStore::Mode::ReadWrite); !opened) return opened.problem();
        if (Result<> made = step(store); !made) return made.problem();
        return store.Operators();
      },
      [this, done](Answer answer) {
        busy_ = false;
        if (!answer) {
          say(Utf8(answer.problem().Told()), true);
          updateButtons();
          return;
        }
        showList(*answer);
        say(done, false);
        emit changed(operators_);
      });
}

void OperatorsDialog::addOperator(const std::string& name, const std::string& secret, bool senior) {
  change([=](StationStore& s) { return s.AddOperator(name, secret, senior); },
         QStringLiteral("Оператор %1 добавлен.").arg(Utf8(name)));
}

void OperatorsDialog::removeOperator(const std::string& name) {
  change([=](StationStore& s) { return s.RemoveOperator(name); },
         QStringLiteral("Оператор %1 удалён из списка.").arg(Utf8(name)));
}

void OperatorsDialog::setSecret(const std::string& name, const std::string& secret) {
  change([=](StationStore& s) { return s.SetSecret(name, secret); },
         QStringLiteral("ПИН-код оператора %1 сменён.").arg(Utf8(name)));
}

void OperatorsDialog::setSenior(const std::string& name, bool senior) {
  change([=](StationStore& s) { return s.SetSenior(name, senior); },
         senior ? QStringLiteral("%1 теперь старший оператор.").arg(Utf8(name))
                : QStringLiteral("%1 больше не старший оператор.").arg(Utf8(name)));
}

void OperatorsDialog::onAdd() {
  SecretForm form(QStringLiteral("Новый оператор"), true, operators_.empty(), this);
  if (ExecWindowModal(form) != QDialog::Accepted) return;
  addOperator(form.name(), form.secret(), form.senior());
}

void OperatorsDialog::onSecret() {
  const std::string name = chosenName();
  if (name.empty()) return;
  SecretForm form(QStringLiteral("Новый ПИН-код: ") + Utf8(name), false, false, this);
  if (ExecWindowModal(form) != QDialog::Accepted) return;
  setSecret(name, form.secret());
}

void OperatorsDialog::onRemove() {
  const std::string name = chosenName();
  if (name.empty()) return;
  QMessageBox ask(QMessageBox::Question, windowTitle(),
                  QStringLiteral("Удалить оператора %1 из списка? Его записи в протоколе и журнале останутся.")
                      .arg(Utf8(name)),
                  QMessageBox::Yes | QMessageBox::No, this);
  ask.setDefaultButton(QMessageBox::No);
  if (ExecWindowModal(ask) != QMessageBox::Yes) return;
  removeOperator(name);
}

}  // namespace pelvaron::ui
