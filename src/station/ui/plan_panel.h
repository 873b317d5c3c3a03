#pragma once

#include <QScrollArea>
#include <QString>
#include <QStringList>

#include <optional>

#include "station/station_data.h"

class QLabel;

namespace pelvaron::ui {

// The plan beside the alarm queue: what to do, whom to call in order with
// their telephones, the guard group. Read only, and never in the way of the
// keyboard: Tab passes it by.
class PlanPanel : public QScrollArea {
  Q_OBJECT
 public:
  explicit PlanPanel(QWidget* parent = nullptr);

  // priorityTitle: the alarm's priority as the operator reads it ("Пожар"),
  // named when the plan is its default one. No plan: "План не задан".
  void setPlan(const std::optional<ResponsePlan>& plan, const QString& priorityTitle);
  // Nothing chosen.
  void clearPlan();
  QString text() const;

  static QString PlanText(const std::optional<ResponsePlan>& plan, const QString& priorityTitle);

 private:
  QLabel* label_ = nullptr;
};

// The calls a plan offers, one per telephone in calling order:
// "Иванов И.И. (директор), +7 900 111-22-33".
QStringList KeyHolderCalls(const std::optional<ResponsePlan>& plan);

}  // namespace pelvaron::ui
