#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "alarms/alarm_desk.h"
#include "station/station_data.h"

class QLabel;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace pelvaron::ui {

class LimitedLineEdit;
class PlanPanel;

// "Очередь тревог": the alarms that wait for the operator, by priority and
// then the longest waiting first, each in its priority's colour, with its
// object's comment, its repeats and its age; acknowledge the chosen ones or
// all, with an optional note. A view: it shows what the desk sends and asks
// for acknowledgements by signal.
//
// Nothing is acknowledged that the operator did not aim at: a refill keeps
// his chosen rows, the row under the keyboard and what he is looking at; a
// new alarm is shown in bold until he chooses it, never chosen for him, and
// the list scrolls to it only when it comes above what he sees; no button
// is a default one.
class AlarmQueueWindow : public QWidget {
  Q_OBJECT
 public:
  // The event's text last: it takes the width that is left, and a long one
  // pushes no other column out of sight.
  enum Column { kPriority, kTime, kAddress, kObject, kRepeats, kAge, kState, kEvent, kColumnCount };

  explicit AlarmQueueWindow(QWidget* parent = nullptr);

  // The plan of a row's alarm: the object's own, else its priority's default.
  using PlanLookup = std::function<std::optional<ResponsePlan>(const AlarmRow&)>;

  QTreeWidget* list() const { return list_; }
  PlanPanel* planPanel() const { return plan_; }
  // Shows the chosen alarm's plan beside the list from now on, and again now.
  void setPlanLookup(PlanLookup lookup);
  // The plans changed: the one beside the list is shown anew.
  void refreshPlan();
  // The chosen alarm's plan, as the panel shows it.
  std::optional<ResponsePlan> planOf(std::uint64_t id) const;
  const AlarmRow* rowOf(std::uint64_t id) const;
  LimitedLineEdit* noteEdit() const { return note_; }
  // The ids of the rows the operator chose, in list order.
  std::vector<std::uint64_t> selectedIds() const;
  // The row that "Действие…" and "Закрыть…" act on: the first chosen one (0: none).
  std::uint64_t chosenId() const;
  // A row's alarm in a line: "№1043, 0301 Склад: Пожарная тревога".
  QString alarmLine(std::uint64_t id) const;
  // Every row's id, in list order.
  std::vector<std::uint64_t> allIds() const;
  // Rows nobody has acknowledged yet.
  int waitingCount() const;
  // What the list shows now.
  const AlarmView& shownView() const { return view_; }
  bool sounding() const { return sounding_; }
  // Shown in bold: the operator has not chosen it yet.
  bool isNew(std::uint64_t id) const { return !seen_.contains(id); }

  // "5 с", "3 мин 05 с", "2 ч 10 мин", "3 д 4 ч".
  static QString AgeText(std::int64_t seconds);
  // "Пожар: 1, Проникновение: 2": how many of each priority the rows hold
  // (waitingOnly: those not acknowledged yet).
  static QString CountsText(const AlarmView& view, bool waitingOnly = false);

 public slots:
  void setView(const pelvaron::AlarmView& view);
  // What the operator must know of the audible alarm: that it fails (shown
  // in red, lasting) or that it works again.
  void setSoundWarning(const QString& text, bool failing);
  // The oldest alarm of the highest priority chosen, with the keyboard on it.
  void focusTopAlarm();
  void acknowledgeSelected();
  void acknowledgeAll();

 signals:
  // all: the ids are every row on screen that waits to be seen. The note is checked already.
  void acknowledgeRequested(const std::vector<std::uint64_t>& ids, const QString& note, bool all);
  // "Действие…" and "Закрыть…" on the chosen alarm (the first chosen row).
  void actionRequested(std::uint64_t id);
  void closeRequested(std::uint64_t id);
  // "План…": the chosen alarm's plan to edit.
  void planRequested(std::uint64_t id);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void updateAges();
  void updateButtons();
  void updateSummary();
  void fitColumns();
  void markSeen();
  QTreeWidgetItem* itemOf(std::uint64_t id) const;

  QTreeWidget* list_ = nullptr;
  LimitedLineEdit* note_ = nullptr;
  QPushButton* acknowledge_ = nullptr;
  QPushButton* acknowledgeAll_ = nullptr;
  QPushButton* action_ = nullptr;
  QPushButton* close_ = nullptr;
  QPushButton* planButton_ = nullptr;
  PlanPanel* plan_ = nullptr;
  PlanLookup planLookup_;
  QLabel* summary_ = nullptr;
  QLabel* soundWarning_ = nullptr;
  QTimer* ages_ = nullptr;
  AlarmView view_;
  QSet<quint64> seen_;  // rows the operator has chosen
  bool sounding_ = false;
  bool soundFailing_ = false;
  QHash<QString, int> textWidths_;  // measured texts, for fitColumns
  bool filling_ = false;
};

}  // namespace pelvaron::ui
