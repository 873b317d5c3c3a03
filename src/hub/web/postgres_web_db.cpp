#include <libpq-fe.h>

#include <memory>
#include <mutex>

#include "hub/web/web_db.h"

namespace pelvaron {

namespace {

struct ConnectionCloser {
  void operator()(PGconn* conn) const { PQfinish(conn); }
};
struct ResultClearer {
  void operator()(PGresult* result) const { PQclear(result); }
};
using PgResult = std::unique_ptr<PGresult, ResultClearer>;

class PostgresWebDb final : public WebDb {
 public:
  explicit PostgresWebDb(PGconn* conn) : conn_(conn) {}

  Result<std::vector<Row>> Query(const std::string& sql, const std::vector<std::string>& params) override {
    std::lock_guard lock(mutex_);
    // A restarted server: one new attempt per query, never a loop.
    if (PQstatus(conn_.get()) != CONNECTION_OK) PQreset(conn_.get());
    std::vector<const char*> values;
    for (const std::string& p : params) values.push_back(p.c_str());
    PgResult result(PQexecParams(conn_.get(), sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(),
                                 nullptr, nullptr, 0));
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
      return Problem{"Не удалось обратиться к базе хаба", PQerrorMessage(conn_.get())};
    std::vector<Row> rows;
    for (int r = 0; r < PQntuples(result.get()); ++r) {
      Row row;
      for (int c = 0; c < PQnfields(result.get()); ++c) row.emplace_back(PQgetvalue(result.get(), r, c));
      rows.push_back(std::move(row));
    }
    return rows;
  }

 private:
  std::mutex mutex_;
  std::unique_ptr<PGconn, ConnectionCloser> conn_;
};

}  // namespace

Result<std::unique_ptr<WebDb>> OpenPostgresWebDb(const std::string& url) {
  std::unique_ptr<PGconn, ConnectionCloser> conn(PQconnectdb(url.c_str()));
  if (PQstatus(conn.get()) != CONNECTION_OK)
    return Problem{"Не удалось подключиться к базе PostgreSQL хаба", PQerrorMessage(conn.get())};
  PgResult quiet(PQexec(conn.get(), "SET client_min_messages = warning"));
  return std::unique_ptr<WebDb>(new PostgresWebDb(conn.release()));
}

}  // namespace pelvaron
