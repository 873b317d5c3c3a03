#include "store/store_sink.h"

#include <sqlite3.h>
#include <sys/stat.h>
#ifdef __linux__
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>

#include "core/tick_path.h"

namespace pelvaron {

EventStoreSink::EventStoreSink(std::string path, Classifier classify, std::size_t capacity, const char* vfs)
    : BackgroundSink(capacity),
      path_(std::move(path)),
      wal_(path_ + "-wal"),
      classify_(std::move(classify)),
      vfs_(vfs) {}

EventStoreSink::~EventStoreSink() {
  Stop();
  // What the last burst wrote is committed before the store closes.
  if (inTransaction_ && store_.Commit() != SQLITE_OK) {
    store_.Rollback();
    droppedTotal_ += batch_.size();
  }
}

std::string EventStoreSink::OpenNow() {
  if (store_.IsOpen()) return {};
  polledVersion_.reset();  // a new connection counts its own versions
  if (store_.Open(path_, EventStore::Mode::ReadWrite, vfs_) == SQLITE_OK) return {};
  return store_.Problem();
}

PELVARON_TICK_PATH EventStoreSink::FileLook EventStoreSink::LookAtFiles() const {
  // In WAL mode (the store's own) another process's commit appends to the
  // log, or after a checkpoint rewrites it in place with a new time; a store
  // without a log is written itself.
  struct stat s {};
  if (stat(wal_.c_str(), &s) != 0 && stat(path_.c_str(), &s) != 0) return {};
  return {static_cast<std::int64_t>(s.st_ino), static_cast<std::int64_t>(s.st_size),
          static_cast<std::int64_t>(s.st_mtim.tv_sec), static_cast<std::int64_t>(s.st_mtim.tv_nsec)};
}

PELVARON_TICK_PATH bool EventStoreSink::RequestPoll() {
  // Waking the sink's thread, and SQLite's look at the log, were most of what
  // the store cost an idle console: one stat tells first whether anyone
  // wrote. A file's time has the kernel's coarse granularity, so a commit in
  // the same few milliseconds as the last look that rewrites the log in place
  // can leave it looking the same: every so many requests look anyway.
  const FileLook look = LookAtFiles();
  if (look == filesSeen_ && ++quietRequests_ < kLookAnywayEvery) return false;
  filesSeen_ = look;
  quietRequests_ = 0;
  PublishPollRequest();
  return true;
}

PELVARON_OFF_TICK_PATH void EventStoreSink::PublishPollRequest() {
  // A marker, in order with the writes: a request is seen after the events before it.
  Publish(Event{});
}

EventStoreSink::Report EventStoreSink::TakeReport() {
  if (!ReportWaiting()) return {};
  std::lock_guard lock(reportMutex_);
  reportWaiting_.store(false, std::memory_order_relaxed);
  Report report = std::move(report_);
  report_ = Report{};
  return report;
}

bool EventStoreSink::Ready() {
  if (!store_.IsOpen()) {
    polledVersion_.reset();
    if (store_.Open(path_, EventStore::Mode::ReadWrite, vfs_) != SQLITE_OK) return false;
  }
  if (inTransaction_) return true;
  if (store_.Begin() != SQLITE_OK) return false;
  inTransaction_ = true;
  // After a failure the burst's events are written again in the new transaction.
  for (const Event& e : batch_) {
    if (!Write(e)) return false;
  }
  return true;
}

bool EventStoreSink::Write(const Event& event) {
  return store_.Insert(event, classify_ ? classify_(event) : StoredClass{}) == SQLITE_OK;
}

bool EventStoreSink::Failed() {
  store_.Rollback();
  inTransaction_ = false;
  if (!failing_) {
    failing_ = true;
    std::lock_guard lock(reportMutex_);
    report_.problem = "Хранилище событий " + path_ + " не записывается: " + store_.Problem() +
                      ". События ждут в очереди и будут записаны, как только это станет возможно; "
                      "наблюдение продолжается. (" +
                      store_.Error() + ")";
    reportWaiting_.store(true, std::memory_order_release);
  }
  return false;
}

void EventStoreSink::Healthy() {
  const bool wasFailing = failing_;
  failing_ = false;
  const std::uint64_t lost = dropped_.exchange(0);
  if (!wasFailing && lost == 0) return;
  std::lock_guard lock(reportMutex_);
  report_.recovered = wasFailing ? "Хранилище событий " + path_ + " снова записывается."
                                 : "Хранилище событий " + path_ + " не успевало записывать события.";
  if (lost > 0) report_.recovered += " Не сохранено событий: " + std::to_string(lost) + ".";
  reportWaiting_.store(true, std::memory_order_release);
}

void EventStoreSink::Poll() {
  // Requests are written by other processes only, and data_version moves
  // with every commit of theirs: while it stands still, the answer is what
  // it was (a store of months holds many requests, all recorded).
  std::int64_t version = 0;
  const bool versionKnown = store_.DataVersion(version) == SQLITE_OK;
  if (versionKnown && polledVersion_ && *polledVersion_ == version) return;
  std::vector<PendingAcknowledgement> pending;
  if (store_.PendingAcknowledgements(lastRequest_, pending) != SQLITE_OK) return;
  // Read before the query: what others commit meanwhile moves it again.
  if (versionKnown) polledVersion_ = version;
  if (pending.empty()) return;
  lastRequest_ = pending.back().id;
  std::lock_guard lock(reportMutex_);
  for (PendingAcknowledgement& a : pending) report_.acknowledgements.push_back(std::move(a));
  reportWaiting_.store(true, std::memory_order_release);
}

bool EventStoreSink::CommitBatch(bool dropLastOnFailure) {
  if (!Ready()) return false;
  if (store_.Commit() != SQLITE_OK) {
    if (dropLastOnFailure) batch_.pop_back();  // offered again by the retry
    return false;
  }
  inTransaction_ = false;
  written_ += batch_.size();
  batch_.clear();
  Healthy();
  return true;
}

bool EventStoreSink::Deliver(const Event& event) {
  if (!niced_) {
    // The writer yields the processor to the tick: on a busy machine with
    // two cores it must never be the reason a tick runs late.
    niced_ = true;
#ifdef __linux__
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), kWriterNice);
#endif
  }
  // An event numbered 0 is a marker: commit what is written, look for
  // acknowledgements, and tell a waiter (its ticket is in ref).
  const bool marker = event.seq == 0;
  if (!marker) {
    if (!Ready() || !Write(event)) return Failed();
    batch_.push_back(event);
    // Commit when the burst is over (only this event is left) or big enough.
    if (Queued() > 1 && batch_.size() < kMaxBatch) return true;
  }
  if ((inTransaction_ || !batch_.empty()) && !CommitBatch(!marker)) return Failed();
  if (marker) {
    if (!failing_ && store_.IsOpen()) Poll();
    if (event.ref != 0) {
      std::lock_guard lock(handledMutex_);
      handled_ = std::max(handled_, event.ref);
      handledChanged_.notify_all();
    }
  }
  return true;
}

bool EventStoreSink::WaitUntilWritten(int timeoutMs) {
  std::unique_lock lock(handledMutex_);
  const std::uint64_t ticket = ++tickets_;
  lock.unlock();
  Event marker;
  marker.ref = ticket;
  Publish(marker);
  lock.lock();
  return handledChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return handled_ >= ticket; });
}

void EventStoreSink::Overflow(const Event& event) {
  if (event.seq == 0) return;
  ++dropped_;
  ++droppedTotal_;
}

}  // namespace pelvaron
