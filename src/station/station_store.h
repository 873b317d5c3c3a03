#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/result.h"
#include "station/station_data.h"
#include "store/sqlite_handles.h"

struct sqlite3;

namespace pelvaron {

// The station's own data in station.sqlite (station_schema.h): response
// plans, operators, report thresholds; edited by people, never on the
// console's tick. SQLite in WAL mode; every change is one transaction, so a
// kill at any moment leaves the old data or the new, never a mix, and a
// reader never waits for a writer. One object for one thread; any number of
// programs at once.
//
// Every failure is a Problem in the operator's words (what could not be done
// and why), with SQLite's own words as its cause and SQLite's code as its
// code (0 for a refused value); on failure nothing is changed. A store made
// by a newer program is refused, and so is a database that is no station
// store.
//
// Opening here, plans in station_plans.cpp, operators in station_operators.cpp.
class StationStore {
 public:
  enum class Mode { ReadWrite, ReadOnly };

  StationStore() = default;
  StationStore(const StationStore&) = delete;
  StationStore& operator=(const StationStore&) = delete;

  // How long a change waits for another program's before it gives up.
  static constexpr int kBusyWaitMs = 5000;

  // ReadWrite makes the file and its tables when missing (readable by its
  // owner only: it holds the operators' hashes); ReadOnly needs a store.
  Result<> Open(const std::string& path, Mode mode);
  void Close();
  bool IsOpen() const { return db_ != nullptr; }
  const std::string& path() const { return path_; }

  // Plans, sorted by address, then priority (the default plans, whose
  // address is empty, first), each with its key holders in calling order.
  Result<std::vector<ResponsePlan>> Plans();
  // The object's own plan, else the default plan of its alarm's priority
  // (none for an empty priorityName), else nothing.
  Result<std::optional<ResponsePlan>> PlanFor(const std::string& address, const std::string& priorityName);
  // Puts the plan in place of the one with the same address and priority.
  Result<> SavePlan(const ResponsePlan& plan);
  // Removing a plan that is not there is no failure.
  Result<> DeletePlan(const std::string& address, const std::string& priority);
  // Every plan at once (an import): the old ones go, these come.
  Result<> ReplaceAllPlans(const std::vector<ResponsePlan>& plans);

  // Operators by name. While the list is not empty it has a senior operator,
  // so that somebody may edit it: the first one added must be senior, and the
  // last senior can be neither removed nor made plain while others remain.
  // Names are told apart in any letter case.
  Result<std::vector<OperatorAccount>> Operators();
  Result<> AddOperator(const std::string& name, const std::string& secret, bool senior);
  Result<> RemoveOperator(const std::string& name);
  Result<> SetSenior(const std::string& name, bool senior);
  Result<> SetSecret(const std::string& name, const std::string& secret);
  // The operator when secret is theirs; nothing for a wrong secret or name.
  Result<std::optional<OperatorAccount>> CheckSecret(const std::string& name, const std::string& secret);

  // 30 s to acknowledge and 60 s to close until set.
  Result<ReportThresholds> Thresholds();
  Result<> SetThresholds(const ReportThresholds& thresholds);

  sqlite3* handle() { return db_.get(); }

 private:
  // The problem of SQLite's code rc: "Хранилище станции PATH <doing>: <why>".
  Problem Failed(int rc, const char* doing) const;
  // A statement for one use: SQLITE_OK or SQLite's code.
  int Statement(const char* sql, SqlStatement& stmt);
  // Plans of a statement whose columns are ReadPlans' (station_plans.cpp).
  Result<std::vector<ResponsePlan>> ReadPlans(SqlStatement stmt);
  // Inside a transaction: SQLITE_OK or SQLite's code.
  int InsertPlans(std::span<const ResponsePlan> plans);
  // A senior operator other than name is in the list: 1, 0, or -SQLite's code.
  int OtherSeniors(const std::string& name);
  // The stored spelling of name in any letter case, "" when there is none.
  Result<std::string> StoredName(const std::string& name);

  std::string path_;
  SqlConnection db_;
};

}  // namespace pelvaron
