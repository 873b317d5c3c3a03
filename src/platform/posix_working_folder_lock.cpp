#include "core/create_file.h"
#include "platform/working_folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace pelvaron {
namespace {

// The holder's process number, as it wrote it ("1234\n"); 0 when unreadable.
long HolderOf(int fd) {
  char text[32] = {};
  const ssize_t n = pread(fd, text, sizeof text - 1, 0);
  if (n <= 0) return 0;
  char* end = nullptr;
  const long pid = std::strtol(text, &end, 10);
  return end != text && pid > 0 && pid <= INT_MAX ? pid : 0;
}

// Its program's name as it was started (comm cuts names at 15 characters).
std::string ProgramOf(long pid) {
  std::ifstream cmdline("/proc/" + std::to_string(pid) + "/cmdline");
  std::string name;
  std::getline(cmdline, name, '\0');
  return name.substr(name.find_last_of('/') + 1);
}

}  // namespace

WorkingFolderLock::WorkingFolderLock() {
  char cwd[PATH_MAX];
  folder_ = getcwd(cwd, sizeof cwd) != nullptr ? cwd : ".";
  // Made as every file is: never world-writable, a link in its place not followed.
  if (Result<UniqueFd> made = CreateFile(kWorkingFolderLockName, O_RDWR, WhenThere::Open)) fd_ = std::move(*made);
  // A folder the console may not write: the file another console made still locks.
  if (!fd_) fd_.reset(open(kWorkingFolderLockName, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd_) return;
  if (flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
    taken_ = errno == EWOULDBLOCK;
    if (taken_) {
      holderPid_ = HolderOf(fd_.get());
      if (holderPid_ != 0) holderProgram_ = ProgramOf(holderPid_);
    }
    fd_.reset();
    return;
  }
  char text[24];
  const int n = std::snprintf(text, sizeof text, "%ld\n", static_cast<long>(getpid()));
  // Only a help for the message of the one refused: the flock is the lock.
  const bool named = ftruncate(fd_.get(), 0) == 0 && pwrite(fd_.get(), text, static_cast<std::size_t>(n), 0) == n;
  (void)named;
}

// Closing lets go of the lock. The file stays: removing it could let two
// consoles lock two different files of one name.
WorkingFolderLock::~WorkingFolderLock() = default;

}  // namespace pelvaron
