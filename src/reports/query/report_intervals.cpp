// The report's intervals: the states the console records as a beginning and
// an end (the link, the telephone line, an object overdue, an operator at
// work), replayed from the store's first record of them so that a state
// begun long before the range is there from its start.
#include <algorithm>
#include <map>
#include <optional>

#include "reports/query/report_rows.h"
#include "reports/shift_report.h"

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

Result<StateIntervals> ReadStateIntervals(ReportSource& source, std::int64_t from, std::int64_t to,
                                          const std::vector<std::string>& addresses) {
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
  Result<> read = source.States(to, [&](const ReportRow& r) {
    const std::int64_t time = r.time;
    const std::string& kind = r.kind;
    ConsoleStates& c = consoles[r.station];
    const std::string& address = r.address;
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
      Begin(c.signedIn, time, r.operatorName);
    } else if (kind == "operator-signed-out") {
      End(c.signedIn, time, all.signedIn);
    } else if (kind == "console-stopped") {
      endAll(c, time);
    }
    return true;
  });
  if (!read) return read.problem();
  for (auto& [station, c] : consoles) endAll(c, to);
  for (std::vector<Interval>* list : {&all.overdue, &all.linkDown, &all.lineDown, &all.signedIn}) {
    *list = ClipIntervals(*list, from, to);
  }
  return all;
}

}  // namespace pelvaron
