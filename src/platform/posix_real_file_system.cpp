#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "core/create_file.h"
#include "platform/real_file_system.h"

namespace pelvaron {
namespace {

std::string DirectoryOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

void SyncDirectoryOf(const std::string& path) {
  const UniqueFd dir(::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir) ::fsync(dir.get());
}

constexpr int kMaxLinks = 40;  // as the kernel's own limit on a path's links

}  // namespace

std::ptrdiff_t RealFileSystem::WriteChunk(int fd, const std::uint8_t* data, std::size_t size) {
  return ::write(fd, data, size);
}

int RealFileSystem::ChangeOwner(int fd, unsigned uid, unsigned gid) {
  return ::fchown(fd, static_cast<uid_t>(uid), static_cast<gid_t>(gid)) == 0 ? 0 : errno;
}

int RealFileSystem::WriteAll(int fd, std::span<const std::uint8_t> data) {
  std::size_t done = 0;
  while (done < data.size()) {
    std::ptrdiff_t n = WriteChunk(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return ENOSPC;  // no progress: never spin on it
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

std::string RealFileSystem::FollowLinks(const std::string& path) {
  std::string current = path;
  for (int i = 0; i < kMaxLinks; ++i) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    char target[PATH_MAX];
    ssize_t n = ::readlink(current.c_str(), target, sizeof target - 1);
    if (n <= 0) return current;
    std::string next(target, static_cast<std::size_t>(n));
    if (next.front() != '/' && current.find('/') != std::string::npos)
      next = DirectoryOf(current) + "/" + next;
    current = next;
  }
  return current;
}

int RealFileSystem::ReadPrefix(const std::string& path, std::size_t max, std::vector<std::uint8_t>& out) {
  out.clear();
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return errno;
  out.resize(max);
  std::size_t done = 0;
  int err = 0;
  while (done < max) {
    ssize_t n = ::read(fd.get(), out.data() + done, max - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      break;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  out.resize(done);
  return err;
}

int RealFileSystem::WriteInPlace(const std::string& target, std::span<const std::uint8_t> data) {
  UniqueFd fd(::open(target.c_str(), O_WRONLY | O_CLOEXEC));
  if (!fd) return errno;
  int err = WriteAll(fd.get(), data);
  if (err == 0 && ::ftruncate(fd.get(), static_cast<off_t>(data.size())) != 0) err = errno;
  if (err == 0 && ::fsync(fd.get()) != 0) err = errno;
  // A late write error of the disk shows at the close.
  if (fd.reset() != 0 && err == 0) err = errno;
  return err;
}

int RealFileSystem::ReplaceFile(const std::string& path, std::span<const std::uint8_t> data) {
  const std::string target = FollowLinks(path);
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (exists) {
    // A file nobody may write stays so, for root too: refused as its opening
    // for writing would be.
    if ((old.st_mode & 0222) == 0) return EACCES;
    if (::access(target.c_str(), W_OK) != 0) return errno;
    // Another name of the same file would keep the old content.
    if (old.st_nlink > 1) return WriteInPlace(target, data);
  }
  const std::string temp = TemporaryOf(target);
  ::unlink(temp.c_str());
  Result<UniqueFd> created = CreateFile(temp, O_WRONLY, WhenThere::Refuse, exists ? FileMode::Private : FileMode::Shared);
  if (!created) return created.problem().code;
  UniqueFd& fd = *created;
  AfterReplaceStep(ReplaceStep::TempOpened);
  int err = 0;
  if (exists) {
    if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
        ChangeOwner(fd.get(), old.st_uid, old.st_gid) != 0) {
      // The owner cannot be kept: the file itself is written over instead.
      fd.reset();
      ::unlink(temp.c_str());
      return WriteInPlace(target, data);
    }
    if (::fchmod(fd.get(), old.st_mode & 07777) != 0) err = errno;
  }
  if (err == 0) err = WriteAll(fd.get(), data);
  if (err == 0) AfterReplaceStep(ReplaceStep::Written);
  if (err == 0) {
    if (::fsync(fd.get()) != 0)
      err = errno;
    else
      AfterReplaceStep(ReplaceStep::Synced);
  }
  if (fd.reset() != 0 && err == 0) err = errno;
  if (err == 0) AfterReplaceStep(ReplaceStep::Closed);
  if (err == 0) {
    if (::rename(temp.c_str(), target.c_str()) != 0)
      err = errno;
    else
      AfterReplaceStep(ReplaceStep::Renamed);
  }
  if (err != 0) {
    ::unlink(temp.c_str());
    return err;
  }
  // The rename itself must reach the disk too.
  SyncDirectoryOf(target);
  AfterReplaceStep(ReplaceStep::DirectorySynced);
  return 0;
}

void RealFileSystem::RemoveInterruptedSave(const std::string& path) {
  const std::string temp = TemporaryOf(FollowLinks(path));
  struct stat st {};
  if (::lstat(temp.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(temp.c_str());
}

int RealFileSystem::Append(const std::string& path, std::span<const std::uint8_t> data) {
  Result<UniqueFd> opened = CreateFile(path, O_WRONLY | O_APPEND, WhenThere::OpenThroughLinks);
  if (!opened) return opened.problem().code;
  UniqueFd& fd = *opened;
  struct stat st {};
  int err = ::fstat(fd.get(), &st) == 0 ? 0 : errno;
  // A read-only protocol file stays unwritten, also for root.
  if (err == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0) err = EACCES;
  if (err == 0) {
    err = WriteAll(fd.get(), data);
    // Whole lines or none: what part reached the file (a full disk takes what
    // fits) is cut back to where the file ended.
    if (err != 0 && S_ISREG(st.st_mode)) {
      while (::ftruncate(fd.get(), st.st_size) != 0 && errno == EINTR) {
      }
    }
  }
  if (fd.reset() != 0 && err == 0) err = errno;
  return err;
}

int RealFileSystem::Rename(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

bool RealFileSystem::Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace pelvaron
