#include "store/store_sink.h"

#include <sqlite3.h>
#ifdef __linux__
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>

namespace pelvaron {

EventStoreSink::EventStoreSink(std::string path, Classifier classify, std::size_t capacity, const char* vfs)
    : BackgroundSink(capacity), path_(std::move(path)), classify_(std::move(classify)), vfs_(vfs) {}

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
  if (store_.Open(path_, EventStore::Mode::ReadWrite, vfs_) == SQLITE_OK) return {};
  return store_.Problem();
}

void EventStoreSink::RequestPoll() {
  // A marker, in order with the writes: a request is seen after the events before it.
  Publish(Event{});
}

EventStoreSink::Report EventStoreSink::TakeReport() {
  std::lock_guard lock(reportMutex_);
  Report report = std::move(report_);
  report_ = Report{};
  return report;
}

bool EventStoreSink::Ready() {
  if (!store_.IsOpen() && store_.Open(path_, EventStore::Mode::ReadWrite, vfs_) != SQLITE_OK) return false;
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
}

void EventStoreSink::Poll() {
  std::vector<PendingAcknowledgement> pending;
  if (store_.PendingAcknowledgements(lastRequest_, pending) != SQLITE_OK || pending.empty()) return;
  lastRequest_ = pending.back().id;
  std::lock_guard lock(reportMutex_);
  for (PendingAcknowledgement& a : pending) report_.acknowledgements.push_back(std::move(a));
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
