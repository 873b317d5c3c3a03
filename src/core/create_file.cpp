#include "core/create_file.h"

#include <fcntl.h>

#include <cerrno>

namespace pelvaron {

namespace {

int Open(const std::string& path, int flags, WhenThere there, mode_t bits) {
  if (there != WhenThere::OpenThroughLinks) {
    const int create = there == WhenThere::Refuse ? O_CREAT | O_EXCL : O_CREAT;
    return ::open(path.c_str(), flags | create | O_NOFOLLOW, bits);
  }
  // A file that is there is opened where its links lead; a missing one is
  // made by this name only. A link whose target is missing fails both ways.
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd = ::open(path.c_str(), flags);
    if (fd >= 0 || errno != ENOENT) return fd;
    fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL | O_NOFOLLOW, bits);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = ELOOP;
  return -1;
}

}  // namespace

Result<UniqueFd> CreateFile(const std::string& path, int flags, WhenThere there, FileMode mode) {
  UniqueFd fd(Open(path, flags | O_CLOEXEC, there, static_cast<mode_t>(mode)));
  if (!fd) return SystemProblem("Файл " + path + " не открывается");
  return fd;
}

}  // namespace pelvaron
