#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <string>
#include <utility>
#include <vector>

class QTreeWidget;

namespace pelvaron::ui {

class StationCache;

// "Планы реагирования": every plan of the station, the objects' and the
// priorities' default ones, to open one, make a new one or remove one. The
// opening, saving and removing are its owner's.
class PlansListDialog : public QDialog {
  Q_OBJECT
 public:
  // priorities: the priority table's {name, title}, for a new default plan.
  PlansListDialog(StationCache& cache, std::vector<std::pair<std::string, std::string>> priorities,
                  QWidget* parent = nullptr);

  QTreeWidget* list() const { return list_; }
  void refill();

 signals:
  void editRequested(const std::string& address, const std::string& priority);
  void deleteRequested(const std::string& address, const std::string& priority);

 private:
  QString titleOf(const std::string& priority) const;
  bool chosen(std::string& address, std::string& priority) const;
  void newObjectPlan();
  void newDefaultPlan();

  StationCache& cache_;
  std::vector<std::pair<std::string, std::string>> priorities_;
  QTreeWidget* list_ = nullptr;
};

}  // namespace pelvaron::ui
