#include "outputs/disk_queue.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "core/create_file.h"
#include "outputs/write_all.h"

namespace pelvaron {

namespace {

constexpr char kAckFileName[] = "acked";
constexpr char kSegmentSuffix[] = ".jsonl";
constexpr std::size_t kReadChunk = 256 * 1024;

// "0000000042.jsonl" -> 42; false for any other name.
bool SegmentNumber(const char* name, std::uint64_t& number) {
  const std::size_t length = std::strlen(name);
  const std::size_t suffix = sizeof kSegmentSuffix - 1;
  if (length <= suffix || std::strcmp(name + length - suffix, kSegmentSuffix) != 0) return false;
  number = 0;
  for (std::size_t i = 0; i < length - suffix; ++i) {
    if (name[i] < '0' || name[i] > '9' || i >= 19) return false;
    number = number * 10 + static_cast<std::uint64_t>(name[i] - '0');
  }
  return true;
}

// The length of the file up to and including its last line end.
off_t WholeLinesLength(int fd, off_t size) {
  char buffer[4096];
  off_t end = size;
  while (end > 0) {
    const off_t start = end > static_cast<off_t>(sizeof buffer) ? end - static_cast<off_t>(sizeof buffer) : 0;
    const ssize_t n = ::pread(fd, buffer, static_cast<std::size_t>(end - start), start);
    if (n <= 0) return 0;
    for (ssize_t i = n - 1; i >= 0; --i) {
      if (buffer[i] == '\n') return start + i + 1;
    }
    end = start;
  }
  return 0;
}

}  // namespace

DiskQueue::DiskQueue(std::string dir) : DiskQueue(std::move(dir), Limits{}) {}

DiskQueue::DiskQueue(std::string dir, Limits limits) : dir_(std::move(dir)), limits_(limits) {}

DiskQueue::~DiskQueue() {
  CloseAll();
}

void DiskQueue::CloseAll() {
  for (UniqueFd* fd : {&writeFd_, &ackFd_, &readFd_}) fd->reset();
}

std::string DiskQueue::SegmentPath(std::uint64_t segment) const {
  char name[40];
  std::snprintf(name, sizeof name, "/%010llu%s", static_cast<unsigned long long>(segment), kSegmentSuffix);
  return dir_ + name;
}

Result<> DiskQueue::OpenWriteSegment(std::uint64_t segment, bool create) {
  writeFd_.reset();
  const std::string path = SegmentPath(segment);
  if (create) {
    Result<UniqueFd> made = CreateFile(path, O_RDWR | O_APPEND, WhenThere::Open);
    if (!made) return made.problem();
    writeFd_ = std::move(*made);
  } else {
    writeFd_.reset(::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW));
    if (!writeFd_) {
      const int err = errno;
      return SystemProblem("Файл " + path + " не открывается", err);
    }
  }
  writeSegment_ = segment;
  segments_.emplace(segment, 0);
  return {};
}

bool DiskQueue::IsOpen() const {
  std::lock_guard lock(mutex_);
  return writeFd_ && ackFd_;
}

DiskQueue::Findings DiskQueue::TakeFindings() {
  std::lock_guard lock(mutex_);
  return std::exchange(findings_, Findings{});
}

Result<> DiskQueue::Open() {
  std::lock_guard lock(mutex_);
  Result<> opened = OpenLocked();
  // Half open is not open: Append and ReadNext find nothing to use.
  if (!opened) {
    CloseAll();
    segments_.clear();
  }
  return opened;
}

Result<> DiskQueue::OpenLocked() {
  // Afresh, also after an attempt that failed.
  CloseAll();
  segments_.clear();
  head_ = cursor_ = {};
  writeSegment_ = 0;
  writeDirty_ = ackDirty_ = false;
  findings_ = {};
  if (::mkdir(dir_.c_str(), 0755) != 0 && errno != EEXIST) {
    const int err = errno;
    return SystemProblem("Папка очереди " + dir_ + " не создаётся", err);
  }
  DIR* d = ::opendir(dir_.c_str());
  if (d == nullptr) {
    const int err = errno;
    return SystemProblem("Папка очереди " + dir_ + " не открывается", err);
  }
  while (dirent* entry = ::readdir(d)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || name == kAckFileName) continue;
    std::uint64_t number = 0;
    struct stat st {};
    if (SegmentNumber(entry->d_name, number) && ::lstat(SegmentPath(number).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      segments_[number] = static_cast<std::uint64_t>(st.st_size);
    } else {
      findings_.foreign.push_back(name);
    }
  }
  ::closedir(d);
  std::sort(findings_.foreign.begin(), findings_.foreign.end());

  if (segments_.empty()) {
    if (Result<> opened = OpenWriteSegment(1, true); !opened) return opened;
  } else {
    auto last = std::prev(segments_.end());
    if (Result<> opened = OpenWriteSegment(last->first, false); !opened) return opened;
    // A crash in the middle of a record leaves part of a line: cut it off.
    const off_t whole = WholeLinesLength(writeFd_.get(), static_cast<off_t>(last->second));
    if (static_cast<std::uint64_t>(whole) != last->second) {
      if (::ftruncate(writeFd_.get(), whole) != 0) {
        const int err = errno;
        return SystemProblem("Оборванная запись в " + SegmentPath(last->first) + " не отрезается", err);
      }
      findings_.tornSegment = SegmentPath(last->first);
      findings_.tornBytes = last->second - static_cast<std::uint64_t>(whole);
      last->second = static_cast<std::uint64_t>(whole);
    }
  }

  const std::string ackPath = dir_ + "/" + kAckFileName;
  Result<UniqueFd> ack = CreateFile(ackPath, O_RDWR, WhenThere::Open);
  if (!ack) return ack.problem();
  ackFd_ = std::move(*ack);
  char text[64] = {};
  unsigned long long segment = 0, offset = 0;
  const ssize_t n = ::pread(ackFd_.get(), text, sizeof text - 1, 0);
  const auto first = segments_.begin();
  head_ = {first->first, 0};
  // Without a readable position every record still here is sent again:
  // a duplicate is better than a loss.
  if (n > 0 && std::sscanf(text, "%llu %llu", &segment, &offset) == 2 && segment >= first->first) {
    auto it = segments_.find(segment);
    if (it != segments_.end()) {
      head_ = {segment, offset < it->second ? offset : it->second};
    } else if (segment > writeSegment_) {
      head_ = {writeSegment_, segments_[writeSegment_]};
    }
  }
  NormalizeHead();
  cursor_ = head_;
  return {};
}

void DiskQueue::NormalizeHead() {
  // Past the end of a finished segment means the start of the next one.
  for (;;) {
    auto it = segments_.find(head_.segment);
    if (it == segments_.end() || head_.segment >= writeSegment_ || head_.offset < it->second) break;
    head_ = {std::next(it)->first, 0};
  }
  while (!segments_.empty() && segments_.begin()->first < head_.segment) {
    const std::uint64_t gone = segments_.begin()->first;
    if (readSegment_ == gone) readFd_.reset();
    ::unlink(SegmentPath(gone).c_str());
    segments_.erase(segments_.begin());
  }
  if (cursor_ < head_) cursor_ = head_;
}

std::uint64_t DiskQueue::PendingLocked() const {
  std::uint64_t bytes = 0;
  for (auto it = segments_.lower_bound(head_.segment); it != segments_.end(); ++it) bytes += it->second;
  return bytes - (segments_.count(head_.segment) ? head_.offset : 0);
}

Result<> DiskQueue::Append(std::string_view record) {
  std::lock_guard lock(mutex_);
  if (!writeFd_) return SystemProblem("Очередь " + dir_ + " не открыта", EBADF);
  if (segments_[writeSegment_] >= limits_.segmentBytes) {
    if (writeDirty_ && ::fdatasync(writeFd_.get()) == 0) writeDirty_ = false;
    const std::uint64_t previous = writeSegment_;
    if (Result<> opened = OpenWriteSegment(previous + 1, true); !opened) {
      (void)OpenWriteSegment(previous, false);
      return opened;
    }
  }
  std::string line;
  line.reserve(record.size() + 1);
  line.append(record);
  line += '\n';
  std::uint64_t& size = segments_[writeSegment_];
  if (Result<> wrote = WriteAll(writeFd_.get(), line); !wrote) {
    // Whole records only: take back what was written of this one.
    if (::ftruncate(writeFd_.get(), static_cast<off_t>(size)) != 0) {
      // The torn line is cut off at the next Open at the latest.
    }
    return SystemProblem("Запись в очередь " + dir_ + " не удалась", wrote.problem().code);
  }
  size += line.size();
  writeDirty_ = true;
  while (PendingLocked() > limits_.maxBytes && head_.segment < writeSegment_) DropOldest();
  return {};
}

void DiskQueue::DropOldest() {
  // Counts what is given up, then lets the head move past the segment.
  const std::uint64_t segment = head_.segment;
  const UniqueFd fd(::open(SegmentPath(segment).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (fd) {
    std::vector<char> buffer(kReadChunk);
    off_t at = static_cast<off_t>(head_.offset);
    ssize_t n;
    while ((n = ::pread(fd.get(), buffer.data(), buffer.size(), at)) > 0) {
      for (ssize_t i = 0; i < n; ++i) dropped_ += buffer[static_cast<std::size_t>(i)] == '\n';
      at += n;
    }
  }
  head_.offset = segments_[segment];
  NormalizeHead();
  (void)WriteAcknowledged();
}

std::size_t DiskQueue::ReadNext(std::size_t max, std::vector<Record>& out) {
  std::lock_guard lock(mutex_);
  std::size_t read = 0;
  std::vector<char> buffer;
  while (read < max) {
    auto it = segments_.find(cursor_.segment);
    if (it == segments_.end()) break;
    if (cursor_.offset >= it->second) {
      if (cursor_.segment >= writeSegment_) break;
      cursor_ = {std::next(it)->first, 0};
      continue;
    }
    if (!readFd_ || readSegment_ != cursor_.segment) {
      readFd_.reset(::open(SegmentPath(cursor_.segment).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
      readSegment_ = cursor_.segment;
      if (!readFd_) break;
    }
    std::uint64_t want = it->second - cursor_.offset;
    if (want > kReadChunk) want = kReadChunk;
    buffer.resize(want);
    const ssize_t n = ::pread(readFd_.get(), buffer.data(), want, static_cast<off_t>(cursor_.offset));
    if (n <= 0) break;
    std::size_t start = 0;
    bool whole = false;
    for (std::size_t i = 0; i < static_cast<std::size_t>(n) && read < max; ++i) {
      if (buffer[i] != '\n') continue;
      whole = true;
      Record record;
      record.data.assign(buffer.data() + start, i - start);
      record.end = {cursor_.segment, cursor_.offset + i + 1};
      out.push_back(std::move(record));
      ++read;
      start = i + 1;
    }
    cursor_.offset += start;
    if (!whole) {
      // A record longer than a chunk: read it whole next time.
      if (want == kReadChunk && it->second - cursor_.offset > kReadChunk) {
        std::string big(it->second - cursor_.offset, '\0');
        const ssize_t m = ::pread(readFd_.get(), big.data(), big.size(), static_cast<off_t>(cursor_.offset));
        const std::size_t end = m > 0 ? big.find('\n') : std::string::npos;
        if (end == std::string::npos || end >= static_cast<std::size_t>(m)) break;
        big.resize(end);
        out.push_back({std::move(big), {cursor_.segment, cursor_.offset + end + 1}});
        cursor_.offset += end + 1;
        ++read;
        continue;
      }
      break;
    }
  }
  return read;
}

void DiskQueue::Rewind() {
  std::lock_guard lock(mutex_);
  cursor_ = head_;
}

bool DiskQueue::HasUnread() const {
  std::lock_guard lock(mutex_);
  auto it = segments_.find(cursor_.segment);
  if (it == segments_.end()) return false;
  return cursor_.offset < it->second || cursor_.segment < writeSegment_;
}

Result<> DiskQueue::Acknowledge(QueuePosition end) {
  std::lock_guard lock(mutex_);
  if (end <= head_) return {};
  head_ = end;
  NormalizeHead();
  return WriteAcknowledged();
}

Result<> DiskQueue::WriteAcknowledged() {
  auto failed = [this](int err) {
    return SystemProblem("Положение очереди в " + dir_ + "/" + kAckFileName + " не записывается", err);
  };
  if (!ackFd_) return failed(EBADF);
  // Fixed width, so that each write replaces the whole text in place.
  char text[48];
  const int n = std::snprintf(text, sizeof text, "%020llu %020llu\n", static_cast<unsigned long long>(head_.segment),
                              static_cast<unsigned long long>(head_.offset));
  if (::pwrite(ackFd_.get(), text, static_cast<std::size_t>(n), 0) != n) return failed(errno ? errno : EIO);
  ackDirty_ = true;
  return {};
}

Result<> DiskQueue::Sync() {
  std::lock_guard lock(mutex_);
  int err = 0;
  if (writeDirty_ && writeFd_) {
    if (::fdatasync(writeFd_.get()) != 0) err = errno;
    else writeDirty_ = false;
  }
  if (ackDirty_ && ackFd_) {
    if (::fdatasync(ackFd_.get()) != 0) err = errno;
    else ackDirty_ = false;
  }
  if (err != 0) return SystemProblem("Очередь " + dir_ + " не сохраняется на диске", err);
  return {};
}

bool DiskQueue::Dirty() const {
  std::lock_guard lock(mutex_);
  return writeDirty_ || ackDirty_;
}

std::uint64_t DiskQueue::PendingBytes() const {
  std::lock_guard lock(mutex_);
  return PendingLocked();
}

std::uint64_t DiskQueue::Dropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

}  // namespace pelvaron
