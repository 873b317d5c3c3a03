#include "outputs/json_lines_sink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/create_file.h"
#include "events/event_json.h"
#include "outputs/write_all.h"

namespace pelvaron {

namespace {

Result<UniqueFd> OpenForAppend(const std::string& path) {
  // The operator names the file: a link to a file kept elsewhere is followed.
  return CreateFile(path, O_WRONLY | O_APPEND, WhenThere::OpenThroughLinks);
}

}  // namespace

JsonLinesSink::JsonLinesSink(std::string path, Report report, std::size_t capacity)
    : BackgroundSink(capacity), path_(std::move(path)), reporter_(std::move(report)), stdout_(path_ == "-") {}

JsonLinesSink::~JsonLinesSink() {
  Stop();
}

int JsonLinesSink::Fd() const {
  return stdout_ ? STDOUT_FILENO : file_.get();
}

Result<> JsonLinesSink::Open() {
  if (stdout_) return {};
  Result<UniqueFd> opened = OpenForAppend(path_);
  if (!opened) {
    openProblem_ = opened.problem();
    return openProblem_;
  }
  file_ = std::move(*opened);
  return {};
}

void JsonLinesSink::ReopenIfMoved() {
  // One stat a line: events come a few a second at most.
  if (stdout_) return;
  struct stat byName {};
  struct stat open {};
  if (file_ && ::stat(path_.c_str(), &byName) == 0 && ::fstat(file_.get(), &open) == 0 && byName.st_ino == open.st_ino &&
      byName.st_dev == open.st_dev) {
    return;
  }
  Result<UniqueFd> fresh = OpenForAppend(path_);
  if (!fresh) {
    openProblem_ = fresh.problem();  // the write below says why
    return;
  }
  file_ = std::move(*fresh);
}

bool JsonLinesSink::WriteLine(const std::string& line) {
  KeepPipeSignalsAway();
  ReopenIfMoved();
  if (Fd() < 0) {
    reporter_.Trouble("open " + std::to_string(openProblem_.code),
                      "Не удалось открыть файл событий " + path_ + ": " + openProblem_.cause);
    return false;
  }
  off_t before = -1;
  if (!stdout_) before = ::lseek(Fd(), 0, SEEK_END);
  std::size_t done = 0;
  if (const Result<> wrote = WriteAll(Fd(), line, &done); !wrote) {
    const int err = wrote.problem().code;
    if (stdout_) {
      // Nobody reads any more: the events cannot wait for a reader.
      reporter_.Trouble("stdout " + std::to_string(err),
                        "Не удалось вывести события на стандартный вывод: " + wrote.problem().cause);
      return err != EAGAIN && err != EWOULDBLOCK;
    }
    // Whole lines only: take back what was written of this one.
    if (done > 0 && before >= 0 && ::ftruncate(Fd(), before) != 0) {
      // Nothing more to do: the next line starts after the torn one.
    }
    reporter_.Trouble("write " + std::to_string(err), "Не удалось записать событие в файл " + path_ + ": " +
                                                          wrote.problem().cause + "; запись будет повторена.");
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
