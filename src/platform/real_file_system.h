#pragma once

#include <cstddef>

#include "core/file_system.h"

namespace pelvaron {

// Files on the local disk, relative paths from the working directory.
//
// A replaced file keeps its identity: a symbolic link is followed and its
// target replaced (the link stays a link), the new file gets the old one's
// mode and owner, and a file without any write permission is refused (EACCES)
// rather than made writable. Where the owner cannot be kept (or the file has
// other hard links) it is written over in place instead. An append is whole
// or not at all: a short write is cut back to the old end of the file.
class RealFileSystem : public FileSystem {
 public:
  int ReadPrefix(const std::string& path, std::size_t max, std::vector<std::uint8_t>& out) override;
  int ReplaceFile(const std::string& path, std::span<const std::uint8_t> data) override;
  int Append(const std::string& path, std::span<const std::uint8_t> data) override;
  bool Exists(const std::string& path) override;
  int Rename(const std::string& from, const std::string& to) override;

  // Removes what an interrupted ReplaceFile of path left beside it.
  void RemoveInterruptedSave(const std::string& path);

  // The file a path names once its symbolic links are followed (the path
  // itself when it is none); the end of a dangling link is what it would name.
  static std::string FollowLinks(const std::string& path);
  // The temporary file a replace of this (link-free) path writes first.
  static std::string TemporaryOf(const std::string& target) { return target + ".new"; }

 protected:
  // Seams for the crash and full-disk tests; the defaults are the plain calls.
  enum class ReplaceStep { TempOpened, Written, Synced, Closed, Renamed, DirectorySynced };
  // One write(2): returns the bytes written, or -1 with errno set.
  virtual std::ptrdiff_t WriteChunk(int fd, const std::uint8_t* data, std::size_t size);
  // Called after each step of ReplaceFile that succeeded.
  virtual void AfterReplaceStep(ReplaceStep /*step*/) {}
  // fchown(2): 0 or the error.
  virtual int ChangeOwner(int fd, unsigned uid, unsigned gid);

 private:
  int WriteAll(int fd, std::span<const std::uint8_t> data);
  int WriteInPlace(const std::string& target, std::span<const std::uint8_t> data);
};

}  // namespace pelvaron
