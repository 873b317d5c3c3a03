#include "test_postgres.h"

#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

namespace pelvaron::testing {

namespace {

namespace fs = std::filesystem;

const char kBin[] = "/usr/lib/postgresql/15/bin";

}  // namespace

TestPostgres::TestPostgres() {
  std::string pattern = (fs::temp_directory_path() / "pelvaron-hub-pg-XXXXXX").string();
  if (::mkdtemp(pattern.data()) != nullptr) dir_ = pattern;
  // A port of its own, away from a system server's 5432 (only the socket's name).
  port_ = 20000 + static_cast<int>(::getpid() % 20000);
}

TestPostgres::~TestPostgres() {
  if (running_) Run(std::string(kBin) + "/pg_ctl -D '" + dir_ + "/data' -m immediate -w stop");
  std::error_code ignored;
  if (!dir_.empty()) fs::remove_all(dir_, ignored);
}

std::string TestPostgres::Run(const std::string& command) const {
  // As root, the server's user runs it; its output is kept for the message.
  const std::string as = ::geteuid() == 0 ? "runuser -u " + user_ + " -- " : "";
  const std::string log = dir_ + "/command.log";
  const std::string line = as + command + " > '" + log + "' 2>&1";
  if (std::system(line.c_str()) == 0) return {};
  std::string output;
  if (FILE* f = std::fopen(log.c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, f)) output += buffer;
    std::fclose(f);
  }
  return command + " failed: " + output;
}

std::string TestPostgres::Start() {
  if (dir_.empty()) return "no temporary folder";
  if (!fs::exists(std::string(kBin) + "/initdb")) return "no PostgreSQL server (scripts/ensure-deps.sh installs postgresql)";
  if (::geteuid() == 0) {
    const passwd* nobody = ::getpwnam("nobody");
    if (nobody == nullptr || std::system("command -v runuser > /dev/null") != 0)
      return "running as root without a user nobody or runuser to run the server as";
    user_ = "nobody";
    if (::chown(dir_.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) return "cannot give the folder to nobody";
  } else {
    const passwd* me = ::getpwuid(::geteuid());
    user_ = me != nullptr ? me->pw_name : "postgres";
  }
  if (!fs::exists(dir_ + "/data")) {
    if (std::string failed = Run(std::string(kBin) + "/initdb -A trust -U " + user_ + " -D '" + dir_ + "/data'");
        !failed.empty())
      return failed;
  }
  const std::string options = "-k " + dir_ + " -p " + std::to_string(port_) + " -h '' -F";
  if (std::string failed = Run(std::string(kBin) + "/pg_ctl -D '" + dir_ + "/data' -l '" + dir_ + "/server.log' -o \"" +
                               options + "\" -w start");
      !failed.empty())
    return failed;
  running_ = true;
  return {};
}

void TestPostgres::Stop() {
  if (running_) Run(std::string(kBin) + "/pg_ctl -D '" + dir_ + "/data' -m immediate -w stop");
  running_ = false;
}

std::string TestPostgres::Url() const {
  return "postgresql://" + user_ + "@/postgres?host=" + dir_ + "&port=" + std::to_string(port_);
}

}  // namespace pelvaron::testing
