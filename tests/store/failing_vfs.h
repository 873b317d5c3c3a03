#pragma once

#include <atomic>

namespace pelvaron::testing {

// An SQLite file system over the real one whose writes fail with
// SQLITE_FULL while `full` is set: a disk that fills up and is freed again.
struct FailingVfs {
  static constexpr char kName[] = "pelvaron-failing";
  // Registers it (once); SQLite finds it by kName.
  static void Register();
  static std::atomic<bool> full;
  static std::atomic<int> failedWrites;
};

}  // namespace pelvaron::testing
