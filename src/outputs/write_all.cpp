#include "outputs/write_all.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace pelvaron {

Result<> WriteAll(int fd, std::string_view data, std::size_t* written,
             std::optional<std::chrono::steady_clock::time_point> deadline) {
  std::size_t done = 0;
  int err = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    err = n < 0 ? errno : ENOSPC;
    if ((err == EAGAIN || err == EWOULDBLOCK) && deadline) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now()).count();
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, left > 0 ? static_cast<int>(left) : 0) > 0) {
        err = 0;
        continue;
      }
      err = ETIMEDOUT;
    }
    break;
  }
  if (written != nullptr) *written = done;
  if (err != 0) return SystemProblem("Запись не удалась", err);
  return {};
}

}  // namespace pelvaron
