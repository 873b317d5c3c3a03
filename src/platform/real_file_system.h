#pragma once

#include "core/file_system.h"

namespace pelvaron {

// Files on the local disk, relative paths from the working directory.
class RealFileSystem : public FileSystem {
 public:
  int ReadPrefix(const std::string& path, std::size_t max, std::vector<std::uint8_t>& out) override;
  int ReplaceFile(const std::string& path, std::span<const std::uint8_t> data) override;
  int Append(const std::string& path, std::span<const std::uint8_t> data) override;
  bool Exists(const std::string& path) override;
};

}  // namespace pelvaron
