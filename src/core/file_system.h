#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

namespace pelvaron {

// Files as the core sees them. Paths are UTF-8. Results are 0 or the system's
// error code (errno on POSIX), which the core shows to the operator as it is.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Reads at most max bytes from the start of an existing file into out.
  virtual int ReadPrefix(const std::string& path, std::size_t max, std::vector<std::uint8_t>& out) = 0;
  // The same into the start of out, at most out.size() bytes; n is how many
  // came. On failure out is left as it was. The default reads through
  // ReadPrefix; a file system that can read straight into out and keep that
  // promise overrides it.
  virtual int ReadPrefixInto(const std::string& path, std::span<std::uint8_t> out, std::size_t& n) {
    std::vector<std::uint8_t> bytes;
    n = 0;
    if (int err = ReadPrefix(path, out.size(), bytes); err != 0) return err;
    n = bytes.size() < out.size() ? bytes.size() : out.size();
    if (n > 0) std::memcpy(out.data(), bytes.data(), n);
    return 0;
  }
  // Replaces the whole file so that a crash or a full disk leaves either the
  // old content or the new one, never a mix: written beside, synced, renamed over.
  virtual int ReplaceFile(const std::string& path, std::span<const std::uint8_t> data) = 0;
  // Appends to the end of the file, creating it when missing.
  virtual int Append(const std::string& path, std::span<const std::uint8_t> data) = 0;
  virtual bool Exists(const std::string& path) = 0;
  // Renames a file, replacing `to`. File systems that cannot rename fail.
  virtual int Rename(const std::string& /*from*/, const std::string& /*to*/) { return 95; }
};

}  // namespace pelvaron
