#include "station/ui/plan_panel.h"

#include <QLabel>
#include <QStringList>

#include "widgets/qt_texts.h"

namespace pelvaron::ui {

PlanPanel::PlanPanel(QWidget* parent) : QScrollArea(parent) {
  setObjectName(QStringLiteral("planPanel"));
  label_ = new QLabel(this);
  label_->setObjectName(QStringLiteral("planText"));
  label_->setTextFormat(Qt::PlainText);  // names and instructions are typed by people, never markup
  label_->setWordWrap(true);
  label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label_->setMargin(6);
  setWidget(label_);
  setWidgetResizable(true);
  setFocusPolicy(Qt::NoFocus);
  label_->setFocusPolicy(Qt::NoFocus);
  clearPlan();
}

QString PlanPanel::PlanText(const std::optional<ResponsePlan>& plan, const QString& priorityTitle) {
  if (!plan) return QStringLiteral("План не задан.");
  QStringList lines;
  if (!plan->address.empty()) {
    lines << QStringLiteral("План объекта ") + Utf8(plan->address);
  } else {
    const QString title = priorityTitle.isEmpty() ? Utf8(plan->priority) : priorityTitle;
    lines << QStringLiteral("План по умолчанию для приоритета «%1» (у объекта нет своего плана)").arg(title);
  }
  lines << QString();
  if (!plan->instructions.empty()) {
    lines << QStringLiteral("Инструкция:") << Utf8(plan->instructions) << QString();
  }
  if (plan->keyHolders.empty()) {
    lines << QStringLiteral("Ответственные лица не указаны.");
  } else {
    lines << QStringLiteral("Ответственные лица (звонить по порядку):");
    int number = 0;
    for (const KeyHolder& holder : plan->keyHolders) {
      QString line = QStringLiteral("%1. ").arg(++number) + Utf8(holder.name);
      if (!holder.role.empty()) line += QStringLiteral(" (") + Utf8(holder.role) + QStringLiteral(")");
      QStringList phones;
      for (const std::string& phone : holder.phones) phones << Utf8(phone);
      if (!phones.isEmpty()) line += QStringLiteral(": ") + phones.join(QStringLiteral(", "));
      lines << line;
    }
  }
  lines << QString();
  if (plan->guardGroup.empty() && plan->guardPhone.empty()) {
    lines << QStringLiteral("Группа реагирования не указана.");
  } else {
    QString guard = QStringLiteral("Группа реагирования: ") + Utf8(plan->guardGroup);
    if (!plan->guardPhone.empty()) {
      guard += (plan->guardGroup.empty() ? QString() : QStringLiteral(", ")) + Utf8(plan->guardPhone);
    }
    lines << guard;
  }
  return lines.join(QChar('\n'));
}

void PlanPanel::setPlan(const std::optional<ResponsePlan>& plan, const QString& priorityTitle) {
  label_->setText(PlanText(plan, priorityTitle));
}

void PlanPanel::clearPlan() {
  label_->setText(QStringLiteral("Выберите тревогу, чтобы увидеть её план."));
}

QStringList KeyHolderCalls(const std::optional<ResponsePlan>& plan) {
  QStringList calls;
  if (!plan) return calls;
  for (const KeyHolder& holder : plan->keyHolders) {
    QString who = Utf8(holder.name);
    if (!holder.role.empty()) who += QStringLiteral(" (") + Utf8(holder.role) + QStringLiteral(")");
    for (const std::string& phone : holder.phones) calls << who + QStringLiteral(", ") + Utf8(phone);
    if (holder.phones.empty()) calls << who;
  }
  return calls;
}

QString PlanPanel::text() const {
  return label_->text();
}

}  // namespace pelvaron::ui
