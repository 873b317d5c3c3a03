#pragma once

#include <cstddef>

#include "core/file_system.h"

namespace pelvaron {

// Files on the local disk, relative paths from the working directory.
class RealFileSystem : public FileSystem {
 public:
  int ReadPrefix(const std::string& path, std::size_t max, std::vector<std::uint8_t>& out) override;
  int ReplaceFile(const std::string& path, std::span<const std::uint8_t> data) override;
  int Append(const std::string& path, std::span<const std::uint8_t> data) override;
  bool Exists(const std::string& path) override;
  int Rename(const std::string& from, const std::string& to) override;

 protected:
  // Seams for the crash and full-disk tests; the defaults are the plain calls.
  enum class ReplaceStep { TempOpened, Written, Synced, Closed, Renamed, DirectorySynced };
  // One write(2): returns the bytes written, or -1 with errno set.
  virtual std::ptrdiff_t WriteChunk(int fd, const std::uint8_t* data, std::size_t size);
  // Called after each step of ReplaceFile that succeeded.
  virtual void AfterReplaceStep(ReplaceStep /*step*/) {}

 private:
  int WriteAll(int fd, std::span<const std::uint8_t> data);
};

}  // namespace pelvaron
