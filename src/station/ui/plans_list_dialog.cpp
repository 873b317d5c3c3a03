#include "station/ui/plans_list_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "station/station_checks.h"
#include "station/ui/station_cache.h"
#include "widgets/notice.h"
#include "widgets/plain_button.h"
#include "widgets/qt_texts.h"

namespace pelvaron::ui {

namespace {

constexpr int kAddressRole = Qt::UserRole;
constexpr int kPriorityRole = Qt::UserRole + 1;

}  // namespace

PlansListDialog::PlansListDialog(StationCache& cache, std::vector<std::pair<std::string, std::string>> priorities,
                                 QWidget* parent)
    : QDialog(parent), cache_(cache), priorities_(std::move(priorities)) {
  setObjectName(QStringLiteral("plansListDialog"));
  setWindowTitle(QStringLiteral("Планы реагирования"));
  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("plansList"));
  list_->setRootIsDecorated(false);
  list_->setHeaderLabels({QStringLiteral("План"), QStringLiteral("Ответственных лиц"),
                          QStringLiteral("Группа реагирования")});
  list_->header()->setStretchLastSection(true);
  QPushButton* edit = PlainButton(QStringLiteral("&Открыть…"), this, "openPlanButton");
  QPushButton* object = PlainButton(QStringLiteral("План &объекта…"), this, "newObjectPlanButton");
  QPushButton* byPriority = PlainButton(QStringLiteral("План по &умолчанию…"), this, "newDefaultPlanButton");
  QPushButton* remove = PlainButton(QStringLiteral("&Удалить"), this, "deletePlanButton");
  QPushButton* close = PlainButton(QStringLiteral("Закрыть"), this, "closePlansButton");
  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {edit, object, byPriority, remove}) buttons->addWidget(b);
  buttons->addStretch(1);
  buttons->addWidget(close);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(list_, 1);
  layout->addLayout(buttons);
  resize(640, 400);

  auto open = [this] {
    std::string address, priority;
    if (chosen(address, priority)) emit editRequested(address, priority);
  };
  connect(edit, &QPushButton::clicked, this, open);
  connect(list_, &QTreeWidget::itemActivated, this, open);
  connect(object, &QPushButton::clicked, this, &PlansListDialog::newObjectPlan);
  connect(byPriority, &QPushButton::clicked, this, &PlansListDialog::newDefaultPlan);
  connect(remove, &QPushButton::clicked, this, [this] {
    std::string address, priority;
    if (chosen(address, priority)) emit deleteRequested(address, priority);
  });
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  connect(&cache_, &StationCache::changed, this, &PlansListDialog::refill);
  refill();
}

QString PlansListDialog::titleOf(const std::string& priority) const {
  for (const auto& [name, title] : priorities_) {
    if (name == priority) return Utf8(title);
  }
  return Utf8(priority);
}

void PlansListDialog::refill() {
  std::string address, priority;
  const bool had = chosen(address, priority);
  list_->clear();
  for (const ResponsePlan& plan : cache_.plans()) {
    auto* item = new QTreeWidgetItem;
    item->setText(0, plan.address.empty() ? QStringLiteral("По умолчанию: ") + titleOf(plan.priority)
                                          : QStringLiteral("Объект ") + Utf8(plan.address));
    item->setText(1, QString::number(plan.keyHolders.size()));
    item->setText(2, Utf8(plan.guardGroup));
    item->setData(0, kAddressRole, Utf8(plan.address));
    item->setData(0, kPriorityRole, Utf8(plan.priority));
    list_->addTopLevelItem(item);
    if (had && plan.address == address && plan.priority == priority) list_->setCurrentItem(item);
  }
  if (list_->currentItem() == nullptr && list_->topLevelItemCount() > 0) list_->setCurrentItem(list_->topLevelItem(0));
  list_->resizeColumnToContents(0);
}

bool PlansListDialog::chosen(std::string& address, std::string& priority) const {
  const QTreeWidgetItem* item = list_->currentItem();
  if (item == nullptr) return false;
  address = item->data(0, kAddressRole).toString().toStdString();
  priority = item->data(0, kPriorityRole).toString().toStdString();
  return true;
}

void PlansListDialog::newObjectPlan() {
  // Modal to this window only: the alarm queue keeps its keys meanwhile.
  QInputDialog ask(this);
  ask.setWindowTitle(QStringLiteral("План объекта"));
  ask.setLabelText(QStringLiteral("Адрес объекта (как в журнале событий, 0012):"));
  if (ExecWindowModal(ask) != QDialog::Accepted) return;
  const std::string address = ask.textValue().trimmed().toStdString();
  if (Result<> checked = CheckPlanAddress("Адрес объекта", address); !checked) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("План объекта"), Utf8(checked.problem().text),
                    QMessageBox::Ok, this);
    ExecWindowModal(box);
    return;
  }
  emit editRequested(address, "");
}

void PlansListDialog::newDefaultPlan() {
  QStringList titles;
  for (const auto& [name, title] : priorities_) titles << Utf8(title);
  QInputDialog ask(this);
  ask.setWindowTitle(QStringLiteral("План по умолчанию"));
  ask.setLabelText(QStringLiteral("Для объектов без своего плана, по приоритету тревоги:"));
  ask.setComboBoxItems(titles);
  ask.setComboBoxEditable(false);
  if (ExecWindowModal(ask) != QDialog::Accepted) return;
  const auto at = titles.indexOf(ask.textValue());
  if (at >= 0) emit editRequested("", priorities_[static_cast<std::size_t>(at)].first);
}

}  // namespace pelvaron::ui
