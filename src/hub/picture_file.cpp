#include "hub/picture_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "core/unique_fd.h"

namespace pelvaron {

PictureFile::PictureFile(const StationPicture& picture, std::string path) : picture_(picture), path_(std::move(path)) {}

int PictureFile::DueInMs(Clock::time_point now) const {
  if (picture_.Version() == written_) return -1;
  const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(last_ + kPace - now).count();
  return wait > 0 ? static_cast<int>(wait) : 0;
}

Result<> PictureFile::Update(Clock::time_point now) {
  if (DueInMs(now) != 0) return {};
  const std::uint64_t version = picture_.Version();
  const std::string text = picture_.Json() + "\n";
  last_ = now;
  const std::string beside = path_ + ".new";
  UniqueFd fd(::open(beside.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd) return SystemProblem("Не удалось записать " + path_);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return SystemProblem("Не удалось записать " + path_);
    done += static_cast<std::size_t>(n);
  }
  if (fd.reset() != 0) return SystemProblem("Не удалось записать " + path_);
  if (std::rename(beside.c_str(), path_.c_str()) != 0) return SystemProblem("Не удалось записать " + path_);
  written_ = version;
  return {};
}

}  // namespace pelvaron
