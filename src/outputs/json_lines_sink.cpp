#include "outputs/json_lines_sink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/create_file.h"
#include "events/event_json.h"
#include "outputs/write_all.h"

namespace pelvaron {

namespace {

int OpenForAppend(const std::string& path) {
  // The operator names the file: a link to a file kept elsewhere is followed.
  return CreateFile(path, O_WRONLY | O_APPEND, WhenThere::OpenThroughLinks);
}

}  // namespace

JsonLinesSink::JsonLinesSink(std::string path, Report report, std::size_t capacity)
    : BackgroundSink(capacity), path_(std::move(path)), reporter_(std::move(report)), stdout_(path_ == "-") {}

JsonLinesSink::~JsonLinesSink() {
  Stop();
  if (fd_ >= 0 && !stdout_) ::close(fd_);
}

int JsonLinesSink::Open() {
  if (stdout_) {
    fd_ = STDOUT_FILENO;
    return 0;
  }
  fd_ = OpenForAppend(path_);
  return fd_ < 0 ? errno : 0;
}

void JsonLinesSink::ReopenIfMoved() {
  // One stat a line: events come a few a second at most.
  if (stdout_) return;
  struct stat byName {};
  struct stat open {};
  if (fd_ >= 0 && ::stat(path_.c_str(), &byName) == 0 && ::fstat(fd_, &open) == 0 && byName.st_ino == open.st_ino &&
      byName.st_dev == open.st_dev) {
    return;
  }
  const int fresh = OpenForAppend(path_);
  if (fresh < 0) return;  // the write below says why
  if (fd_ >= 0) ::close(fd_);
  fd_ = fresh;
}

bool JsonLinesSink::WriteLine(const std::string& line) {
  KeepPipeSignalsAway();
  ReopenIfMoved();
  if (fd_ < 0) {
    const int err = errno;
    reporter_.Trouble("open " + std::to_string(err), "Не удалось открыть файл событий " + path_ + ": " +
                                                         std::strerror(err));
    return false;
  }
  off_t before = -1;
  if (!stdout_) before = ::lseek(fd_, 0, SEEK_END);
  std::size_t done = 0;
  if (const int err = WriteAll(fd_, line, &done); err != 0) {
    if (stdout_) {
      // Nobody reads any more: the events cannot wait for a reader.
      reporter_.Trouble("stdout " + std::to_string(err),
                        std::string("Не удалось вывести события на стандартный вывод: ") + std::strerror(err));
      return err != EAGAIN && err != EWOULDBLOCK;
    }
    // Whole lines only: take back what was written of this one.
    if (done > 0 && before >= 0 && ::ftruncate(fd_, before) != 0) {
      // Nothing more to do: the next line starts after the torn one.
    }
    reporter_.Trouble("write " + std::to_string(err), "Не удалось записать событие в файл " + path_ + ": " +
                                                          std::strerror(err) + "; запись будет повторена.");
    return false;
  }
  reporter_.Recovered("Запись событий в " + (stdout_ ? std::string("стандартный вывод") : "файл " + path_) +
                      " возобновлена.");
  return true;
}

bool JsonLinesSink::Deliver(const Event& event) {
  line_.clear();
  AppendEventJson(line_, event);
  line_ += '\n';
  return WriteLine(line_);
}

void JsonLinesSink::Overflow(const Event& /*event*/) {
  reporter_.Trouble("overflow", "Очередь записи событий в " +
                                    (stdout_ ? std::string("стандартный вывод") : "файл " + path_) +
                                    " переполнена; часть событий не записана.");
}

}  // namespace pelvaron
