#pragma once

#include <QObject>
#include <QString>

#include <optional>
#include <string>
#include <vector>

#include "station/station_data.h"

class QFileSystemWatcher;
class QTimer;

namespace pelvaron::ui {

// What the window shows of station.sqlite, read off the window's thread:
// every plan and the list of operators. The store is small, so it is read
// whole at start and again after each change made in the window; the plan
// beside an alarm then needs no read at all. A station without the file has
// no plans and no operators. A change from outside (pelvaron-plans import)
// is read again once the file has changed.
class StationCache : public QObject {
  Q_OBJECT
 public:
  explicit StationCache(std::string path, QObject* parent = nullptr);

  const std::string& path() const { return path_; }
  // Reads again; changed() when done, failed() once per cause when not.
  void reload();
  bool loaded() const { return loaded_; }

  const std::vector<ResponsePlan>& plans() const { return plans_; }
  const std::vector<OperatorAccount>& operators() const { return operators_; }
  bool hasOperators() const { return !operators_.empty(); }
  std::optional<OperatorAccount> account(const std::string& name) const;
  // The object's own plan, else the default plan of its alarm's priority.
  std::optional<ResponsePlan> planFor(const std::string& address, const std::string& priorityName) const;
  // Exactly the plan of this address and priority.
  std::optional<ResponsePlan> plan(const std::string& address, const std::string& priority) const;

  // As a test or a save puts them: shown at once.
  void set(std::vector<ResponsePlan> plans, std::vector<OperatorAccount> operators);

 signals:
  void changed();
  void failed(const QString& text);

 private:
  void watch();

  std::string path_;
  QFileSystemWatcher* watcher_ = nullptr;
  QTimer* settle_ = nullptr;  // a change is many writes: read once they have settled
  std::vector<ResponsePlan> plans_;
  std::vector<OperatorAccount> operators_;
  bool loaded_ = false;
  std::string lastProblem_;
  int generation_ = 0;  // a read started before a newer one is dropped
};

}  // namespace pelvaron::ui
