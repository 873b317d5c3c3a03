#include "alarms/ui/handling_dialogs.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "alarms/alarm_desk.h"
#include "events/alarm_handling.h"
#include "widgets/edits.h"
#include "widgets/qt_texts.h"
#include "widgets/plain_button.h"

namespace pelvaron::ui {

namespace {

constexpr int kNoteLimit = static_cast<int>(AlarmDesk::kMaxNoteChars);

QString Q(std::string_view text) {
  return Utf8(text);
}

// Buttons that only a click or a key aimed at them presses.
}  // namespace

AlarmActionDialog::AlarmActionDialog(const QString& alarm, const QStringList& keyHolders, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("alarmActionDialog"));
  setWindowTitle(QStringLiteral("Действие по тревоге"));
  action_ = new QComboBox(this);
  action_->setObjectName(QStringLiteral("actionBox"));
  for (const HandlingCode& a : kAlarmActions) action_->addItem(Q(a.title), Q(a.code));
  whom_ = new QComboBox(this);
  whom_->setObjectName(QStringLiteral("whomBox"));
  whom_->setEditable(true);
  whom_->addItems(keyHolders);
  result_ = new QComboBox(this);
  result_->setObjectName(QStringLiteral("resultBox"));
  for (const HandlingCode& r : kCallResults) result_->addItem(Q(r.title), Q(r.code));
  note_ = new LimitedLineEdit(this);
  note_->setObjectName(QStringLiteral("actionNote"));
  note_->setLimit(kNoteLimit);
  record_ = PlainButton(QStringLiteral("&Записать"), this);
  record_->setObjectName(QStringLiteral("recordButton"));
  QPushButton* cancel = PlainButton(QStringLiteral("Отмена"), this);

  auto* form = new QFormLayout;
  form->addRow(new QLabel(alarm, this));
  form->addRow(QStringLiteral("&Действие"), action_);
  whomLabel_ = new QLabel(QStringLiteral("&Кому"), this);
  whomLabel_->setBuddy(whom_);
  form->addRow(whomLabel_, whom_);
  resultLabel_ = new QLabel(QStringLiteral("&Результат"), this);
  resultLabel_->setBuddy(result_);
  form->addRow(resultLabel_, result_);
  form->addRow(QStringLiteral("За&метка"), note_);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(record_, QDialogButtonBox::AcceptRole);
  buttons->addButton(cancel, QDialogButtonBox::RejectRole);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
  connect(record_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(action_, &QComboBox::currentIndexChanged, this, &AlarmActionDialog::update);
  connect(whom_, &QComboBox::currentTextChanged, this, &AlarmActionDialog::update);
  connect(note_, &QLineEdit::textChanged, this, &AlarmActionDialog::update);
  update();
}

void AlarmActionDialog::choose(const QString& code) {
  action_->setCurrentIndex(action_->findData(code));
}

QString AlarmActionDialog::code() const {
  return action_->currentData().toString();
}

QString AlarmActionDialog::detail() const {
  const QString note = note_->text().trimmed();
  if (code() != QLatin1String("key-holder-called")) return note;
  QString text = whom_->currentText().trimmed() + QStringLiteral(": ") + result_->currentText();
  if (!note.isEmpty()) text += QStringLiteral("; ") + note;
  return text;
}

void AlarmActionDialog::update() {
  const bool call = code() == QLatin1String("key-holder-called");
  for (QWidget* w : {static_cast<QWidget*>(whomLabel_), static_cast<QWidget*>(whom_),
                     static_cast<QWidget*>(resultLabel_), static_cast<QWidget*>(result_)}) {
    w->setVisible(call);
  }
  // A call names whom; a note says something.
  const bool complete = call ? !whom_->currentText().trimmed().isEmpty()
                             : code() != QLatin1String("note") || !note_->text().trimmed().isEmpty();
  record_->setEnabled(complete);
}

CloseAlarmDialog::CloseAlarmDialog(const QString& alarm, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("closeAlarmDialog"));
  setWindowTitle(QStringLiteral("Закрытие тревоги"));
  outcomes_ = new QListWidget(this);
  outcomes_->setObjectName(QStringLiteral("outcomeList"));
  int n = 0;
  for (const HandlingCode& o : kAlarmOutcomes) {
    auto* item = new QListWidgetItem(QStringLiteral("%1  %2").arg(++n).arg(Q(o.title)), outcomes_);
    item->setData(Qt::UserRole, Q(o.code));
  }
  outcomes_->setCurrentRow(-1);
  outcomes_->installEventFilter(this);
  note_ = new LimitedLineEdit(this);
  note_->setObjectName(QStringLiteral("closeNote"));
  note_->setLimit(kNoteLimit);
  close_ = PlainButton(QStringLiteral("&Закрыть тревогу"), this);
  close_->setObjectName(QStringLiteral("closeButton"));
  QPushButton* cancel = PlainButton(QStringLiteral("Отмена"), this);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(alarm, this));
  auto* outcomeLabel = new QLabel(QStringLiteral("&Итог (цифра — номер):"), this);
  outcomeLabel->setBuddy(outcomes_);
  layout->addWidget(outcomeLabel);
  layout->addWidget(outcomes_);
  auto* noteLabel = new QLabel(QStringLiteral("&Примечание:"), this);
  noteLabel->setBuddy(note_);
  layout->addWidget(noteLabel);
  layout->addWidget(note_);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(close_, QDialogButtonBox::AcceptRole);
  buttons->addButton(cancel, QDialogButtonBox::RejectRole);
  layout->addWidget(buttons);
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  // The list makes its first row current unchosen when it takes the keyboard:
  // what counts is the choice.
  connect(outcomes_, &QListWidget::itemSelectionChanged, this, &CloseAlarmDialog::update);
  connect(note_, &QLineEdit::textChanged, this, &CloseAlarmDialog::update);
  update();
}

QString CloseAlarmDialog::outcome() const {
  const QListWidgetItem* item = outcomes_->currentItem();
  return item != nullptr && item->isSelected() ? item->data(Qt::UserRole).toString() : QString();
}

QString CloseAlarmDialog::note() const {
  return note_->text().trimmed();
}

void CloseAlarmDialog::update() {
  const QString chosen = outcome();
  const bool needsNote = chosen == Q(kOutcomeNeedingNote);
  close_->setEnabled(!chosen.isEmpty() && (!needsNote || !note().isEmpty()));
}

bool CloseAlarmDialog::chooseByDigit(const QKeyEvent* event) {
  const int digit = event->key() - Qt::Key_1;
  if (event->modifiers() != Qt::NoModifier || digit < 0 || digit >= outcomes_->count()) return false;
  outcomes_->setCurrentRow(digit);
  outcomes_->currentItem()->setSelected(true);
  return true;
}

bool CloseAlarmDialog::eventFilter(QObject* watched, QEvent* event) {
  // The list would take a digit for a search of its own.
  if (watched == outcomes_ && event->type() == QEvent::KeyPress && chooseByDigit(static_cast<QKeyEvent*>(event))) {
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void CloseAlarmDialog::keyPressEvent(QKeyEvent* event) {
  // A digit chooses the outcome of that number, wherever the keyboard is but the note.
  if (!note_->hasFocus() && chooseByDigit(event)) return;
  // Enter is nobody's: only "Закрыть тревогу" closes.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) return;
  QDialog::keyPressEvent(event);
}

}  // namespace pelvaron::ui
