// The report's intervals: the states the console records as a beginning and
// an end (the link, the telephone line, an object overdue, an operator at
// work), replayed from the store's first record of them so that a state
// begun long before the range is there from its start.
#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <optional>

#include "reports/query/report_rows.h"
#include "reports/shift_report.h"
#include "store/event_schema.h"
#include "store/sql_text.h"

namespace pelvaron {

namespace {

struct Open {
  std::int64_t since = 0;
  std::string who;
};

// One console's states; what it did not see while it was off is not known.
struct ConsoleStates {
  std::optional<Open> link, line, signedIn;
  std::map<std::string, std::int64_t> overdue;  // by address
};

void End(std::optional<Open>& state, std::int64_t at, std::vector<Interval>& into) {
  if (state) into.push_back({state->since, at, state->who});
  state.reset();
}

void Begin(std::optional<Open>& state, std::int64_t at, std::string who = {}) {
  if (!state) state = Open{at, std::move(who)};
}

}  // namespace

Result<StateIntervals> ReadStateIntervals(EventStore& store, std::int64_t from, std::int64_t to,
                                          const std::vector<std::string>& addresses) {
  const std::string sql = std::string("SELECT time, kind, station, address, operator FROM events WHERE ") +
                          kStateEventsWhere + " AND time <= ?1 ORDER BY time, id";
  SqlStatement s;
  int rc = PrepareOnce(store.handle(), sql.c_str(), -1, s);
  if (rc != SQLITE_OK) return ReportStoreFailure(store, rc, "states");
  sqlite3_bind_int64(s.get(), 1, to);
  StateIntervals all;
  std::map<std::string, ConsoleStates> consoles;  // by station
  auto endAll = [&all](ConsoleStates& c, std::int64_t at) {
    End(c.link, at, all.linkDown);
    End(c.line, at, all.lineDown);
    End(c.signedIn, at, all.signedIn);
    for (const auto& [address, since] : c.overdue) all.overdue.push_back({since, at, address});
    c.overdue.clear();
  };
  const auto ours = [&addresses](const std::string& address) {
    return addresses.empty() || std::find(addresses.begin(), addresses.end(), address) != addresses.end();
  };
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
    const std::int64_t time = sqlite3_column_int64(s.get(), 0);
    const std::string kind = ColumnText(s.get(), 1);
    ConsoleStates& c = consoles[ColumnText(s.get(), 2)];
    const std::string address = ColumnText(s.get(), 3);
    if (kind == "link-lost") {
      Begin(c.link, time);
    } else if (kind == "link-restored") {
      End(c.link, time, all.linkDown);
    } else if (kind == "line-fault") {
      Begin(c.line, time);
    } else if (kind == "line-restored") {
      End(c.line, time, all.lineDown);
    } else if (kind == "object-overdue") {
      if (ours(address)) c.overdue.emplace(address, time);
    } else if (kind == "object-back-in-control") {
      if (auto o = c.overdue.find(address); o != c.overdue.end()) {
        all.overdue.push_back({o->second, time, address});
        c.overdue.erase(o);
      }
    } else if (kind == "operator-signed-in") {
      // One operator at a console: a sign-in ends whoever was there.
      End(c.signedIn, time, all.signedIn);
      Begin(c.signedIn, time, ColumnText(s.get(), 4));
    } else if (kind == "operator-signed-out") {
      End(c.signedIn, time, all.signedIn);
    } else if (kind == "console-stopped") {
      endAll(c, time);
    }
  }
  if (rc != SQLITE_DONE) return ReportStoreFailure(store, rc, "states");
  for (auto& [station, c] : consoles) endAll(c, to);
  for (std::vector<Interval>* list : {&all.overdue, &all.linkDown, &all.lineDown, &all.signedIn}) {
    *list = ClipIntervals(*list, from, to);
  }
  return all;
}

}  // namespace pelvaron
