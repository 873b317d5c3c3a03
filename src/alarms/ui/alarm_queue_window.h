#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <vector>

#include "alarms/alarm_desk.h"

class QLabel;
class QPushButton;
class QTimer;
class QTreeWidget;

namespace pelvaron::ui {

class LimitedLineEdit;

// "Очередь тревог": the alarms that wait for the operator, by priority and
// then the longest waiting first, each in its priority's colour, with its
// object's comment, its repeats and its age; acknowledge the selected ones or
// all, with an optional note. A view: it shows what the desk sends and asks
// for acknowledgements by signal.
class AlarmQueueWindow : public QWidget {
  Q_OBJECT
 public:
  // The event's text last: it takes the width that is left, and a long one
  // pushes no other column out of sight.
  enum Column { kPriority, kTime, kAddress, kObject, kRepeats, kAge, kState, kEvent, kColumnCount };

  explicit AlarmQueueWindow(QWidget* parent = nullptr);

  QTreeWidget* list() const { return list_; }
  LimitedLineEdit* noteEdit() const { return note_; }
  // The ids of the selected rows, in list order.
  std::vector<std::uint64_t> selectedIds() const;
  bool sounding() const { return sounding_; }

  // "5 с", "3 мин 05 с", "2 ч 10 мин", "3 д 4 ч".
  static QString AgeText(std::int64_t seconds);

 public slots:
  void setView(const pelvaron::AlarmView& view);
  void acknowledgeSelected();
  void acknowledgeAll();

 signals:
  // all: the ids are every row on screen. The note is checked already.
  void acknowledgeRequested(const std::vector<std::uint64_t>& ids, const QString& note, bool all);

 private:
  void updateAges();
  void updateButtons();

  QTreeWidget* list_ = nullptr;
  LimitedLineEdit* note_ = nullptr;
  QPushButton* acknowledge_ = nullptr;
  QPushButton* acknowledgeAll_ = nullptr;
  QLabel* summary_ = nullptr;
  QTimer* ages_ = nullptr;
  bool sounding_ = false;
  bool filling_ = false;
  bool operatorChose_ = false;  // the selection is the operator's, not the top row chosen for him
};

}  // namespace pelvaron::ui
