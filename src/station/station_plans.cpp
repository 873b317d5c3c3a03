#include <sqlite3.h>

#include <algorithm>
#include <set>
#include <string_view>
#include <utility>

#include "station/station_checks.h"
#include "station/station_sql.h"
#include "station/station_store.h"

namespace pelvaron {
namespace {

// A plan's rows with its key holders' (NULL where it has none), in order.
// Every query has ReadPlans' columns.
constexpr char kAllPlans[] =
    "SELECT p.id, p.address, p.priority, p.instructions, p.guard_group, p.guard_phone, k.name, k.role, k.phones"
    " FROM plans p LEFT JOIN key_holders k ON k.plan = p.id ORDER BY p.address, p.priority, k.position";
constexpr char kOnePlan[] =
    "SELECT p.id, p.address, p.priority, p.instructions, p.guard_group, p.guard_phone, k.name, k.role, k.phones"
    " FROM plans p LEFT JOIN key_holders k ON k.plan = p.id WHERE p.address = ?1 AND p.priority = ?2"
    " ORDER BY k.position";

// A key holder's phones are one text in the store, one phone a line.
constexpr char kPhoneSeparator = '\n';

std::vector<std::string> SplitPhones(const std::string& text) {
  std::vector<std::string> phones;
  std::size_t start = 0;
  while (start <= text.size() && !text.empty()) {
    const std::size_t end = std::min(text.find(kPhoneSeparator, start), text.size());
    phones.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return phones;
}

std::string JoinPhones(const std::vector<std::string>& phones) {
  std::string text;
  for (const std::string& phone : phones) {
    if (!text.empty()) text += kPhoneSeparator;
    text += phone;
  }
  return text;
}

}  // namespace

Result<std::vector<ResponsePlan>> StationStore::ReadPlans(SqlStatement stmt) {
  std::vector<ResponsePlan> plans;
  sqlite3_int64 current = 0;
  int rc = SQLITE_OK;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    sqlite3_stmt* s = stmt.get();
    const sqlite3_int64 id = sqlite3_column_int64(s, 0);
    if (plans.empty() || id != current) {
      current = id;
      ResponsePlan& plan = plans.emplace_back();
      plan.address = ColumnText(s, 1);
      plan.priority = ColumnText(s, 2);
      plan.instructions = ColumnText(s, 3);
      plan.guardGroup = ColumnText(s, 4);
      plan.guardPhone = ColumnText(s, 5);
    }
    if (sqlite3_column_type(s, 6) != SQLITE_NULL) {
      plans.back().keyHolders.push_back(KeyHolder{ColumnText(s, 6), ColumnText(s, 7), SplitPhones(ColumnText(s, 8))});
    }
  }
  if (rc != SQLITE_DONE) return Failed(rc, "не читается");
  return plans;
}

Result<std::vector<ResponsePlan>> StationStore::Plans() {
  SqlStatement s;
  if (const int rc = Statement(kAllPlans, s); rc != SQLITE_OK) return Failed(rc, "не читается");
  return ReadPlans(std::move(s));
}

Result<std::optional<ResponsePlan>> StationStore::PlanFor(const std::string& address, const std::string& priorityName) {
  // The object's own plan first, then its priority's default.
  using Key = std::pair<std::string_view, std::string_view>;
  for (const auto& [a, p] : {Key{address, ""}, Key{"", priorityName}}) {
    if (a.empty() && p.empty()) continue;
    SqlStatement s;
    int rc = Statement(kOnePlan, s);
    if (rc == SQLITE_OK) rc = BindText(s.get(), 1, a);
    if (rc == SQLITE_OK) rc = BindText(s.get(), 2, p);
    if (rc != SQLITE_OK) return Failed(rc, "не читается");
    Result<std::vector<ResponsePlan>> found = ReadPlans(std::move(s));
    if (!found) return found.problem();
    if (!found->empty()) return std::optional<ResponsePlan>(std::move(found->front()));
  }
  return std::optional<ResponsePlan>();
}

int StationStore::InsertPlans(std::span<const ResponsePlan> plans) {
  SqlStatement plan, holder;
  int rc = Statement(
      "INSERT INTO plans(address, priority, instructions, guard_group, guard_phone) VALUES(?1, ?2, ?3, ?4, ?5)", plan);
  if (rc == SQLITE_OK) {
    rc = Statement("INSERT INTO key_holders(plan, position, name, role, phones) VALUES(?1, ?2, ?3, ?4, ?5)", holder);
  }
  for (const ResponsePlan& p : plans) {
    if (rc != SQLITE_OK) break;
    sqlite3_reset(plan.get());
    for (const auto& [index, text] : {std::pair{1, &p.address}, {2, &p.priority}, {3, &p.instructions},
                                      {4, &p.guardGroup}, {5, &p.guardPhone}}) {
      if (rc == SQLITE_OK) rc = BindText(plan.get(), index, *text);
    }
    if (rc == SQLITE_OK) rc = sqlite3_step(plan.get()) == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db_.get());
    const sqlite3_int64 id = sqlite3_last_insert_rowid(db_.get());
    for (std::size_t i = 0; i < p.keyHolders.size() && rc == SQLITE_OK; ++i) {
      const KeyHolder& k = p.keyHolders[i];
      sqlite3_reset(holder.get());
      rc = sqlite3_bind_int64(holder.get(), 1, id);
      if (rc == SQLITE_OK) rc = sqlite3_bind_int64(holder.get(), 2, static_cast<sqlite3_int64>(i + 1));
      if (rc == SQLITE_OK) rc = BindText(holder.get(), 3, k.name);
      if (rc == SQLITE_OK) rc = BindText(holder.get(), 4, k.role);
      if (rc == SQLITE_OK) rc = BindText(holder.get(), 5, JoinPhones(k.phones));
      if (rc == SQLITE_OK) rc = sqlite3_step(holder.get()) == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db_.get());
    }
  }
  return rc;
}

Result<> StationStore::SavePlan(const ResponsePlan& plan) {
  if (Result<> checked = CheckPlan(plan); !checked) return checked;
  SqlTransaction transaction(db_.get());
  int rc = transaction.Begin();
  SqlStatement remove;
  if (rc == SQLITE_OK) rc = Statement("DELETE FROM plans WHERE address = ?1 AND priority = ?2", remove);
  if (rc == SQLITE_OK) rc = BindText(remove.get(), 1, plan.address);
  if (rc == SQLITE_OK) rc = BindText(remove.get(), 2, plan.priority);
  if (rc == SQLITE_OK) rc = sqlite3_step(remove.get()) == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db_.get());
  if (rc == SQLITE_OK) rc = InsertPlans({&plan, 1});
  if (rc == SQLITE_OK) rc = transaction.Commit();
  return rc == SQLITE_OK ? Result<>() : Failed(rc, "не записывается");
}

Result<> StationStore::DeletePlan(const std::string& address, const std::string& priority) {
  // Its key holders go with it (ON DELETE CASCADE), in the same statement.
  SqlStatement remove;
  int rc = Statement("DELETE FROM plans WHERE address = ?1 AND priority = ?2", remove);
  if (rc == SQLITE_OK) rc = BindText(remove.get(), 1, address);
  if (rc == SQLITE_OK) rc = BindText(remove.get(), 2, priority);
  if (rc == SQLITE_OK) rc = sqlite3_step(remove.get());
  return rc == SQLITE_DONE ? Result<>() : Failed(rc, "не записывается");
}

Result<> StationStore::ReplaceAllPlans(const std::vector<ResponsePlan>& plans) {
  std::set<std::pair<std::string, std::string>> seen;
  for (const ResponsePlan& plan : plans) {
    if (Result<> checked = CheckPlan(plan); !checked) return checked;
    if (!seen.emplace(plan.address, plan.priority).second) {
      const std::string title = PlanTitle(plan);
      return Problem{"Среди новых планов " + title + " встречается дважды; оставьте один.", {}, 0};
    }
  }
  SqlTransaction transaction(db_.get());
  int rc = transaction.Begin();
  if (rc == SQLITE_OK) rc = sqlite3_exec(db_.get(), "DELETE FROM key_holders; DELETE FROM plans;", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) rc = InsertPlans(plans);
  if (rc == SQLITE_OK) rc = transaction.Commit();
  return rc == SQLITE_OK ? Result<>() : Failed(rc, "не записывается");
}

}  // namespace pelvaron
