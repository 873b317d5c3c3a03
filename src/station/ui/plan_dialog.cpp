#include "station/ui/plan_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QVBoxLayout>

#include "station/station_checks.h"
#include "widgets/notice.h"
#include "widgets/plain_button.h"
#include "widgets/qt_texts.h"

namespace pelvaron::ui {

namespace {

std::string Text(const QString& text) {
  return text.trimmed().toStdString();
}

QString CellText(const QTableWidget* table, int row, int column) {
  const QTableWidgetItem* item = table->item(row, column);
  return item != nullptr ? item->text() : QString();
}

}  // namespace

std::vector<std::string> PlanDialog::SplitPhones(const QString& text) {
  std::vector<std::string> phones;
  for (const QString& part : text.split(QRegularExpression(QStringLiteral("[;,]")))) {
    if (!part.trimmed().isEmpty()) phones.push_back(Text(part));
  }
  return phones;
}

PlanDialog::PlanDialog(const ResponsePlan& plan, const QString& title, QWidget* parent)
    : QDialog(parent), address_(plan.address), priority_(plan.priority) {
  setObjectName(QStringLiteral("planDialog"));
  setWindowTitle(QStringLiteral("План реагирования"));

  instructions_ = new QPlainTextEdit(this);
  instructions_->setObjectName(QStringLiteral("instructionsEdit"));
  instructions_->setTabChangesFocus(true);
  instructions_->setPlainText(Utf8(plan.instructions));

  holders_ = new QTableWidget(0, kColumnCount, this);
  holders_->setObjectName(QStringLiteral("holderTable"));
  holders_->setHorizontalHeaderLabels(
      {QStringLiteral("Имя"), QStringLiteral("Роль"), QStringLiteral("Телефоны (через «;»)")});
  holders_->horizontalHeader()->setStretchLastSection(true);
  holders_->setSelectionBehavior(QAbstractItemView::SelectRows);
  holders_->setSelectionMode(QAbstractItemView::SingleSelection);
  holders_->setTabKeyNavigation(false);
  for (const KeyHolder& holder : plan.keyHolders) {
    const int row = holders_->rowCount();
    holders_->insertRow(row);
    QStringList phones;
    for (const std::string& phone : holder.phones) phones << Utf8(phone);
    holders_->setItem(row, kName, new QTableWidgetItem(Utf8(holder.name)));
    holders_->setItem(row, kRole, new QTableWidgetItem(Utf8(holder.role)));
    holders_->setItem(row, kPhones, new QTableWidgetItem(phones.join(QStringLiteral("; "))));
  }
  holders_->resizeColumnsToContents();
  holders_->setColumnWidth(kName, std::max(holders_->columnWidth(kName), 180));
  holders_->setColumnWidth(kRole, std::max(holders_->columnWidth(kRole), 120));

  add_ = PlainButton(QStringLiteral("Д&обавить"), this, "addHolderButton");
  remove_ = PlainButton(QStringLiteral("&Удалить"), this, "removeHolderButton");
  up_ = PlainButton(QStringLiteral("В&ыше"), this, "holderUpButton");
  down_ = PlainButton(QStringLiteral("&Ниже"), this, "holderDownButton");
  auto* holderButtons = new QVBoxLayout;
  for (QPushButton* b : {add_, remove_, up_, down_}) holderButtons->addWidget(b);
  holderButtons->addStretch(1);
  auto* holderRow = new QHBoxLayout;
  holderRow->addWidget(holders_, 1);
  holderRow->addLayout(holderButtons);

  guardGroup_ = new QLineEdit(Utf8(plan.guardGroup), this);
  guardGroup_->setObjectName(QStringLiteral("guardGroupEdit"));
  guardPhone_ = new QLineEdit(Utf8(plan.guardPhone), this);
  guardPhone_->setObjectName(QStringLiteral("guardPhoneEdit"));

  message_ = new QLabel(this);
  message_->setObjectName(QStringLiteral("planMessage"));
  message_->setWordWrap(true);
  message_->setStyleSheet(QStringLiteral("QLabel { color: #C00000; }"));
  message_->hide();

  save_ = PlainButton(QStringLiteral("&Сохранить"), this, "savePlanButton");
  QPushButton* cancel = PlainButton(QStringLiteral("Отмена"), this, "cancelPlanButton");
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(save_, QDialogButtonBox::AcceptRole);
  buttons->addButton(cancel, QDialogButtonBox::RejectRole);

  auto* heading = new QLabel(title, this);
  heading->setObjectName(QStringLiteral("planTitle"));
  QFont bold = heading->font();
  bold.setBold(true);
  heading->setFont(bold);
  auto* instructionsLabel = new QLabel(QStringLiteral("&Инструкция оператору:"), this);
  instructionsLabel->setBuddy(instructions_);
  auto* holdersLabel = new QLabel(QStringLiteral("&Ответственные лица в порядке звонков:"), this);
  holdersLabel->setBuddy(holders_);
  auto* guard = new QFormLayout;
  guard->addRow(QStringLiteral("&Группа реагирования"), guardGroup_);
  guard->addRow(QStringLiteral("&Телефон группы"), guardPhone_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(heading);
  layout->addWidget(instructionsLabel);
  layout->addWidget(instructions_, 2);
  layout->addWidget(holdersLabel);
  layout->addLayout(holderRow, 3);
  layout->addLayout(guard);
  layout->addWidget(message_);
  layout->addWidget(buttons);
  resize(720, 560);

  connect(add_, &QPushButton::clicked, this, &PlanDialog::addHolder);
  connect(remove_, &QPushButton::clicked, this, &PlanDialog::removeHolder);
  connect(up_, &QPushButton::clicked, this, [this] { moveHolder(-1); });
  connect(down_, &QPushButton::clicked, this, [this] { moveHolder(1); });
  connect(holders_, &QTableWidget::itemSelectionChanged, this, &PlanDialog::updateButtons);
  connect(save_, &QPushButton::clicked, this, [this] { emit saveRequested(this->plan()); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  updateButtons();
  opened_ = this->plan();
}

void PlanDialog::reject() {
  if (plan() != opened_) {
    QMessageBox ask(QMessageBox::Question, windowTitle(), QStringLiteral("План изменён. Закрыть без сохранения?"),
                    QMessageBox::Yes | QMessageBox::No, this);
    ask.setDefaultButton(QMessageBox::No);
    if (ExecWindowModal(ask) != QMessageBox::Yes) return;
  }
  QDialog::reject();
}

ResponsePlan PlanDialog::plan() const {
  ResponsePlan p;
  p.address = address_;
  p.priority = priority_;
  QString instructions = instructions_->toPlainText();
  instructions.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  p.instructions = instructions.trimmed().toStdString();
  for (int row = 0; row < holders_->rowCount(); ++row) {
    KeyHolder holder{Text(CellText(holders_, row, kName)), Text(CellText(holders_, row, kRole)),
                     SplitPhones(CellText(holders_, row, kPhones))};
    // A row left empty is no key holder.
    if (holder.name.empty() && holder.role.empty() && holder.phones.empty()) continue;
    p.keyHolders.push_back(std::move(holder));
  }
  p.guardGroup = Text(guardGroup_->text());
  p.guardPhone = Text(guardPhone_->text());
  return p;
}

void PlanDialog::addHolder() {
  const int row = holders_->rowCount();
  holders_->insertRow(row);
  for (int c = 0; c < kColumnCount; ++c) holders_->setItem(row, c, new QTableWidgetItem);
  holders_->setCurrentCell(row, kName);
  holders_->setFocus(Qt::OtherFocusReason);
  holders_->editItem(holders_->item(row, kName));
}

void PlanDialog::removeHolder() {
  const int row = holders_->currentRow();
  if (row < 0) return;
  holders_->removeRow(row);
  updateButtons();
}

void PlanDialog::moveHolder(int by) {
  const int row = holders_->currentRow();
  const int to = row + by;
  if (row < 0 || to < 0 || to >= holders_->rowCount()) return;
  for (int c = 0; c < kColumnCount; ++c) {
    QTableWidgetItem* a = holders_->takeItem(row, c);
    QTableWidgetItem* b = holders_->takeItem(to, c);
    holders_->setItem(row, c, b);
    holders_->setItem(to, c, a);
  }
  holders_->setCurrentCell(to, holders_->currentColumn());
  updateButtons();
}

void PlanDialog::updateButtons() {
  const int row = holders_->currentRow();
  const bool chosen = row >= 0 && !holders_->selectedItems().isEmpty();
  remove_->setEnabled(chosen);
  up_->setEnabled(chosen && row > 0);
  down_->setEnabled(chosen && row + 1 < holders_->rowCount());
}

void PlanDialog::setSaving(bool saving) {
  save_->setEnabled(!saving);
  if (saving) message_->hide();
}

void PlanDialog::refuse(const QString& text) {
  setSaving(false);
  message_->setText(text + QStringLiteral("\nПлан не сохранён; исправьте и сохраните снова."));
  message_->show();
}

}  // namespace pelvaron::ui
