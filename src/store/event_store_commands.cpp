// The event store's answers to requests from the broker.
#include <sqlite3.h>

#include "store/event_store.h"
#include "store/sql_text.h"

namespace pelvaron {

Result<> EventStore::KeepAnswer(const CommandAnswer& answer, std::int64_t forgetBefore) {
  Result<SqlStatement> s =
      Statement("INSERT INTO commands(request, time, status, reason) VALUES(?,?,?,?) ON CONFLICT DO NOTHING", "prepare");
  if (!s) return s.problem();
  BindText(s->get(), 1, answer.request);
  sqlite3_bind_int64(s->get(), 2, answer.time);
  BindText(s->get(), 3, answer.accepted ? "accepted" : "refused");
  BindText(s->get(), 4, answer.reason);
  int rc = sqlite3_step(s->get());
  if (rc != SQLITE_DONE) return Fail(rc, "insert answer");
  Result<SqlStatement> old = Statement("DELETE FROM commands WHERE time < ?", "prepare");
  if (!old) return old.problem();
  sqlite3_bind_int64(old->get(), 1, forgetBefore);
  rc = sqlite3_step(old->get());
  if (rc != SQLITE_DONE) return Fail(rc, "forget answers");
  return {};
}

Result<std::vector<CommandAnswer>> EventStore::Answers() {
  Result<SqlStatement> s = Statement("SELECT request, time, status, reason FROM commands ORDER BY time, rowid", "answers");
  if (!s) return s.problem();
  std::vector<CommandAnswer> found;
  int rc;
  while ((rc = sqlite3_step(s->get())) == SQLITE_ROW) {
    CommandAnswer a;
    a.request = ColumnText(s->get(), 0);
    a.time = sqlite3_column_int64(s->get(), 1);
    a.accepted = ColumnText(s->get(), 2) == "accepted";
    a.reason = ColumnText(s->get(), 3);
    found.push_back(std::move(a));
  }
  if (rc != SQLITE_DONE) return Fail(rc, "answers");
  return found;
}

}  // namespace pelvaron
