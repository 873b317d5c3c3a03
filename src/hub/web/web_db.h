#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/result.h"

namespace pelvaron {

// The web's own connection to the hub's database (SQLite file or PostgreSQL),
// apart from the hub's writer: users and history searches. Parameters are
// written $1, $2... in both; every value travels as text, NULL reads as "".
// Safe to use from any thread (one statement at a time).
class WebDb {
 public:
  using Row = std::vector<std::string>;
  virtual ~WebDb() = default;
  virtual Result<std::vector<Row>> Query(const std::string& sql, const std::vector<std::string>& params = {}) = 0;
};

// A "postgresql://" URL, or an SQLite file's path (created when missing).
Result<std::unique_ptr<WebDb>> OpenWebDb(const std::string& where);
Result<std::unique_ptr<WebDb>> OpenSqliteWebDb(const std::string& path);
Result<std::unique_ptr<WebDb>> OpenPostgresWebDb(const std::string& url);

// The same, opened by the first query that finds the database reachable (a
// server down at the hub's start is no reason to stop serving the board):
// until then each query fails with why, trying again at most every `retry`.
// prepare runs once on each new connection (the tables the web needs).
std::unique_ptr<WebDb> OpenWebDbWhenReachable(std::string where, std::function<Result<>(WebDb&)> prepare,
                                              std::chrono::milliseconds retry = std::chrono::seconds(2));

}  // namespace pelvaron
