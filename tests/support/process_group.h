#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace pelvaron::testing {

// Whether any live process (not a zombie waiting to be reaped) is in the
// process group: what a command cut off with its group must leave behind.
inline bool GroupAlive(int pgid) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    std::ifstream in(entry.path() / "stat");
    std::stringstream bytes;
    bytes << in.rdbuf();
    const std::string stat = bytes.str();
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(stat.substr(close + 2));
    char state = 0;
    long parent = 0, group = 0;
    if (fields >> state >> parent >> group && group == pgid && state != 'Z' && state != 'X') return true;
  }
  return false;
}

}  // namespace pelvaron::testing
