#pragma once

#include <string>

namespace pelvaron::testing {

// A PostgreSQL server of the test's own: initdb and pg_ctl (the postgresql
// package) into a temporary folder, listening only on a socket in it, run by
// an unprivileged user (nobody when the test runs as root). Stopped and
// removed when destroyed.
class TestPostgres {
 public:
  TestPostgres();
  ~TestPostgres();
  TestPostgres(const TestPostgres&) = delete;
  TestPostgres& operator=(const TestPostgres&) = delete;

  // Empty when it runs; otherwise why it cannot (for a skip's message).
  // Again after Stop: the same database.
  std::string Start();
  // Stops the server (fast, as a crash would); its data stays.
  void Stop();
  // postgresql://USER@/postgres?host=DIR&port=PORT
  std::string Url() const;

 private:
  std::string Run(const std::string& command) const;
  std::string dir_;
  std::string user_;
  int port_ = 0;
  bool running_ = false;
};

}  // namespace pelvaron::testing
