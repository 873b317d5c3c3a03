#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/real_file_system.h"

namespace pelvaron {
namespace {

std::string DirectoryOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

std::ptrdiff_t RealFileSystem::WriteChunk(int fd, const std::uint8_t* data, std::size_t size) {
  return ::write(fd, data, size);
}

int RealFileSystem::WriteAll(int fd, std::span<const std::uint8_t> data) {
  std::size_t done = 0;
  while (done < data.size()) {
    std::ptrdiff_t n = WriteChunk(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

int RealFileSystem::ReadPrefix(const std::string& path, std::size_t max, std::vector<std::uint8_t>& out) {
  out.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  out.resize(max);
  std::size_t done = 0;
  int err = 0;
  while (done < max) {
    ssize_t n = ::read(fd, out.data() + done, max - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      break;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  out.resize(done);
  return err;
}

int RealFileSystem::ReplaceFile(const std::string& path, std::span<const std::uint8_t> data) {
  std::string temp = path + ".new";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  AfterReplaceStep(ReplaceStep::TempOpened);
  int err = WriteAll(fd, data);
  if (err == 0) AfterReplaceStep(ReplaceStep::Written);
  if (err == 0) {
    if (::fsync(fd) != 0)
      err = errno;
    else
      AfterReplaceStep(ReplaceStep::Synced);
  }
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0) AfterReplaceStep(ReplaceStep::Closed);
  if (err == 0) {
    if (::rename(temp.c_str(), path.c_str()) != 0)
      err = errno;
    else
      AfterReplaceStep(ReplaceStep::Renamed);
  }
  if (err != 0) {
    ::unlink(temp.c_str());
    return err;
  }
  // The rename itself must reach the disk too.
  int dir = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  AfterReplaceStep(ReplaceStep::DirectorySynced);
  return 0;
}

int RealFileSystem::Append(const std::string& path, std::span<const std::uint8_t> data) {
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  int err = WriteAll(fd, data);
  if (::close(fd) != 0 && err == 0) err = errno;
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
