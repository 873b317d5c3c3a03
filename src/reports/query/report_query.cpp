#include "reports/query/report_query.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>

#include "reports/query/report_rows.h"
#include "station/station_schema.h"
#include "station/station_store.h"
#include "store/sql_text.h"
#include "store/store_problem.h"

namespace pelvaron {

Problem ReportStoreFailure(EventStore& store, int rc, const char* what) {
  std::string cause = std::string(what) + ": " + sqlite3_errmsg(store.handle());
  return Problem(StoreProblemText(rc, sqlite3_system_errno(store.handle())), std::move(cause), rc);
}

std::string AddressCondition(const std::vector<std::string>& addresses, int first, const char* column) {
  if (addresses.empty()) return {};
  std::string sql = " AND (";
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    if (i > 0) sql += " OR ";
    sql += std::string(column) + " = ?" + std::to_string(first + static_cast<int>(i));
  }
  return sql + ")";
}

void BindAddresses(sqlite3_stmt* stmt, const std::vector<std::string>& addresses, int first) {
  for (std::size_t i = 0; i < addresses.size(); ++i) BindText(stmt, first + static_cast<int>(i), addresses[i]);
}

namespace {

std::string Folder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

Problem Unreadable(const std::string& path, const Problem& p) {
  std::string text = "Хранилище событий " + path + " не читается: " + p.text;
  if ((p.code & 0xFF) == SQLITE_BUSY || (p.code & 0xFF) == SQLITE_LOCKED) text += "; попробуйте ещё раз через минуту";
  return Problem(std::move(text), p.cause, p.code);
}

void Thresholds(const ReportQuery& q, ReportLoad& load) {
  const std::string path =
      q.stationStore.empty() ? Folder(q.eventStore) + kStationStoreFileName : q.stationStore;
  if (access(path.c_str(), F_OK) != 0 && errno == ENOENT) return;  // a station without one: the defaults
  StationStore station;
  const Result<> opened = station.Open(path, StationStore::Mode::ReadOnly);
  const Result<ReportThresholds> read = opened ? station.Thresholds() : Result<ReportThresholds>(opened.problem());
  if (read) {
    load.data.thresholds = *read;
    return;
  }
  load.notes.push_back("Пороги взяты по умолчанию (" + std::to_string(load.data.thresholds.ackSeconds) + " с и " +
                       std::to_string(load.data.thresholds.closeSeconds) + " с): хранилище станции " + path +
                       " не читается: " + read.problem().text + " (" + read.problem().cause + ")");
}

}  // namespace

Result<ReportLoad> LoadReportData(const ReportQuery& q, const PriorityTable& table) {
  if (access(q.eventStore.c_str(), F_OK) != 0 && errno == ENOENT) {
    return Problem("Хранилища событий " + q.eventStore +
                       " нет: отчёт строится в папке станции, где работает консоль",
                   "open: " + q.eventStore + ": no such file", SQLITE_CANTOPEN);
  }
  EventStore store;
  if (Result<> opened = store.Open(q.eventStore, EventStore::Mode::ReadOnly); !opened) {
    Problem p = opened.problem();
    return Problem("Хранилище событий " + q.eventStore + " не открывается: " + p.text, p.cause, p.code);
  }
  ReportLoad load;
  ReportData& d = load.data;
  d.from = q.from;
  d.to = q.to;
  for (const Priority& p : table.priorities()) d.priorities.push_back({p.name, p.title, p.colour});
  Thresholds(q, load);

  // A report reads much of the store once: mapped, not copied page by page
  // into a cache that would be too small anyway.
  sqlite3_exec(store.handle(), "PRAGMA mmap_size = 1073741824; PRAGMA cache_size = -16384", nullptr, nullptr, nullptr);
  // One snapshot for every read: the console's writes meanwhile wait for the next report.
  if (const int rc = sqlite3_exec(store.handle(), "BEGIN", nullptr, nullptr, nullptr); rc != SQLITE_OK) {
    return Unreadable(q.eventStore, ReportStoreFailure(store, rc, "begin"));
  }
  EventStoreSource source(store);
  if (Result<> filled = FillReportData(source, q, table, load); !filled) return Unreadable(q.eventStore, filled.problem());
  sqlite3_exec(store.handle(), "COMMIT", nullptr, nullptr, nullptr);
  return load;
}

}  // namespace pelvaron
