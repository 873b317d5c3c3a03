#pragma once

#include <unistd.h>

#include <utility>

namespace pelvaron {

// A file descriptor that closes itself: owned by one object, moved, never copied.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(std::exchange(other.fd_, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  explicit operator bool() const { return valid(); }
  // Gives the descriptor up without closing it.
  int release() { return std::exchange(fd_, -1); }
  // Closes the descriptor held (if any) and holds fd instead. Returns what close returned.
  int reset(int fd = -1) {
    int r = 0;
    if (fd_ >= 0) r = ::close(fd_);
    fd_ = fd;
    return r;
  }

 private:
  int fd_ = -1;
};

}  // namespace pelvaron
