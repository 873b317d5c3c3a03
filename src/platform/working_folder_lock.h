#pragma once

#include <string>

#include "core/unique_fd.h"

namespace pelvaron {

inline constexpr char kWorkingFolderLockName[] = "pelvaron.lock";

// One console to a working folder: two would both save objects.stt, append
// to one protocol and give events the same numbers. The lock is the
// kernel's (flock on pelvaron.lock in the folder), so it goes with its
// process however that ends: a killed console never blocks the next start.
// The file names the holder's process for the one that is refused, and
// stays in the folder.
class WorkingFolderLock {
 public:
  // Takes the lock of the current working folder. A folder where no lock
  // file can be made or opened is not refused: the console's own files
  // tell what is wrong with it.
  WorkingFolderLock();
  ~WorkingFolderLock();
  WorkingFolderLock(const WorkingFolderLock&) = delete;
  WorkingFolderLock& operator=(const WorkingFolderLock&) = delete;

  // Another process holds the folder.
  bool Taken() const { return taken_; }
  const std::string& Folder() const { return folder_; }
  // Who holds it, where known: its process number (0: unknown) and program.
  long HolderPid() const { return holderPid_; }
  const std::string& HolderProgram() const { return holderProgram_; }

 private:
  UniqueFd fd_;
  bool taken_ = false;
  std::string folder_;
  long holderPid_ = 0;
  std::string holderProgram_;
};

}  // namespace pelvaron
