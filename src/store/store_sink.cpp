#include "store/store_sink.h"

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>

namespace pelvaron {

EventStoreSink::EventStoreSink(std::string path, Classifier classify, std::size_t capacity, const char* vfs)
    : BackgroundSink(capacity),
      path_(std::move(path)),
      wal_(path_ + "-wal"),
      classify_(std::move(classify)),
      vfs_(vfs) {}

EventStoreSink::~EventStoreSink() {
  Close(EventStore::kBusyWaitMs);
}

Result<> EventStoreSink::OpenNow() {
  if (store_.IsOpen()) return {};
  if (Result<> opened = OpenStore(); !opened) return opened;
  Result<> taken = TakeUnsaved();
  if (!taken) {
    storeProblem_ = taken.problem();
    store_.Close();
    return taken;
  }
  // Without them a request handed over again would be done twice; a store
  // that cannot tell is no reason to stop recording events.
  if (Result<std::vector<CommandAnswer>> answers = store_.Answers()) {
    for (CommandAnswer& a : *answers) answers_[a.request] = std::move(a);
  }
  return taken;
}

const CommandAnswer* EventStoreSink::AnswerTo(const std::string& request) const {
  const auto found = answers_.find(request);
  return found == answers_.end() ? nullptr : &found->second;
}

void EventStoreSink::KeepAnswer(CommandAnswer answer) {
  answers_.emplace(answer.request, answer);
  {
    std::lock_guard lock(answersMutex_);
    unwrittenAnswers_.push_back(std::move(answer));
  }
  PublishPollRequest();
}

bool EventStoreSink::AnswersWaiting() {
  std::lock_guard lock(answersMutex_);
  return !unwrittenAnswers_.empty();
}

Result<> EventStoreSink::WriteAnswers() {
  std::vector<CommandAnswer> answers;
  {
    std::lock_guard lock(answersMutex_);
    answers.swap(unwrittenAnswers_);
  }
  for (std::size_t i = 0; i < answers.size(); ++i) {
    const std::int64_t forgetBefore = answers[i].time - static_cast<std::int64_t>(kAnswerDays) * 86400;
    if (Result<> kept = store_.KeepAnswer(answers[i], forgetBefore); !kept) {
      // Tried again with the marker.
      std::lock_guard lock(answersMutex_);
      unwrittenAnswers_.insert(unwrittenAnswers_.begin(), answers.begin() + static_cast<std::ptrdiff_t>(i),
                               answers.end());
      return kept;
    }
  }
  return {};
}

Result<> EventStoreSink::OpenStore() {
  polledVersion_.reset();  // a new connection counts its own versions
  Result<> opened = store_.Open(path_, EventStore::Mode::ReadWrite, vfs_);
  storeProblem_ = opened ? Problem{} : opened.problem();
  return opened;
}

Result<> EventStoreSink::TakeUnsaved() {
  if (unsavedChecked_) return {};
  const std::string unsaved = UnsavedPath();
  struct stat st {};
  if (stat(unsaved.c_str(), &st) != 0) {
    unsavedChecked_ = true;
    return {};
  }
  EventStore kept;
  Result<> opened = kept.Open(unsaved, EventStore::Mode::ReadOnly);
  Result<std::vector<StoredEvent>> events = opened ? kept.AllInOrder() : opened.problem();
  if (!events) {
    // Never in the way of the events to come: told once, left for a look.
    unsavedChecked_ = true;
    Tell(report_.problem, "События, не записанные в хранилище при прошлом выключении, остались в файле " +
                              unsaved + ", но он не читается: " + events.problem().text +
                              ". Файл оставлен как есть. (" + events.problem().cause + ")");
    return {};
  }
  kept.Close();
  // A copy already written (a crash between the commit and the removal) is not written twice.
  if (Result<> begun = store_.Begin(); !begun) return begun;
  std::size_t written = 0;
  for (const StoredEvent& e : *events) {
    if (Result<bool> held = store_.Holds(e); held && *held) continue;
    if (Result<> inserted = store_.InsertStored(e); !inserted) {
      store_.Rollback();
      return inserted;
    }
    ++written;
  }
  if (Result<> committed = store_.Commit(); !committed) {
    store_.Rollback();
    return committed;
  }
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) unlink((unsaved + suffix).c_str());
  unsavedChecked_ = true;
  Tell(report_.recovered, "В хранилище событий " + path_ + " записаны события, сохранённые в " + unsaved +
                              " при прошлом выключении: " + std::to_string(written) + ".");
  return {};
}

std::string EventStoreSink::Close(int patienceMs) {
  if (closed_) return {};
  closed_ = true;
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  // A wait for another program's lock ends with the patience, not after it.
  store_.GiveUpWaitingAt(static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000 + patienceMs);
  closing_ = true;
  Stop(patienceMs);
  // What the last burst wrote is committed before the store closes.
  if (inTransaction_) {
    if (Result<> committed = store_.Commit(); committed) {
      written_ += batch_.size();
      batch_.clear();
    } else {
      storeProblem_ = committed.problem();
    }
  }
  store_.Rollback();
  inTransaction_ = false;
  std::vector<Event> unwritten = std::move(batch_);
  batch_.clear();
  {
    std::lock_guard lock(leftMutex_);
    for (Event& e : left_) unwritten.push_back(std::move(e));
    left_.clear();
  }
  store_.Close();
  const std::uint64_t lost = dropped_.exchange(0);
  std::string told = unwritten.empty() ? std::string() : KeepUnsaved(unwritten);
  if (lost > 0) {
    if (!told.empty()) told += " ";
    told += "Не поместилось в очередь хранилища и не сохранено событий: " + std::to_string(lost) +
            "; строки сообщений и тревог есть в файле протокола.";
  }
  return told;
}

std::string EventStoreSink::KeepUnsaved(const std::vector<Event>& events) {
  const std::string unsaved = UnsavedPath();
  const std::string count = std::to_string(events.size());
  const std::string why = failing_ ? storeProblem_.text : "не успело за время выключения";
  EventStore kept;
  Result<> saved = kept.Open(unsaved, EventStore::Mode::ReadWrite);
  if (saved) saved = kept.Begin();
  for (std::size_t i = 0; saved && i < events.size(); ++i) saved = Write(kept, events[i]);
  if (saved) saved = kept.Commit();
  const std::string what = "Хранилище событий " + path_ + " не приняло события при выключении (" + why +
                           "); не записано событий: " + count + ".";
  if (!saved) {
    kept.Rollback();
    droppedTotal_ += events.size();
    return what + " Их не удалось сохранить и в " + unsaved + ": " + saved.problem().text +
           "; строки сообщений и тревог есть в файле протокола.";
  }
  return what + " Они сохранены в " + unsaved + " и будут записаны в хранилище при следующем запуске.";
}

EventStoreSink::FileLook EventStoreSink::LookAtFiles() const {
  // In WAL mode (the store's own) another process's commit appends to the
  // log, or after a checkpoint rewrites it in place with a new time; a store
  // without a log is written itself.
  struct stat s {};
  if (stat(wal_.c_str(), &s) != 0 && stat(path_.c_str(), &s) != 0) return {};
  return {static_cast<std::int64_t>(s.st_ino), static_cast<std::int64_t>(s.st_size),
          static_cast<std::int64_t>(s.st_mtim.tv_sec), static_cast<std::int64_t>(s.st_mtim.tv_nsec)};
}

bool EventStoreSink::RequestPoll() {
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

void EventStoreSink::PublishPollRequest() {
  // A marker, in order with the writes: a request is seen after the events before it.
  Publish(Event{});
}

void EventStoreSink::Tell(std::string& field, const std::string& text) {
  std::lock_guard lock(reportMutex_);
  field += field.empty() ? text : " " + text;
  reportWaiting_.store(true, std::memory_order_release);
}

EventStoreSink::Report EventStoreSink::TakeReport() {
  if (!ReportWaiting()) return {};
  std::lock_guard lock(reportMutex_);
  reportWaiting_.store(false, std::memory_order_relaxed);
  Report report = std::move(report_);
  report_ = Report{};
  return report;
}

Result<> EventStoreSink::Ready() {
  if (!store_.IsOpen()) {
    if (Result<> opened = OpenStore(); !opened) return opened;
  }
  // Kept from an earlier shutdown: before anything newer.
  if (Result<> taken = TakeUnsaved(); !taken) return taken;
  if (inTransaction_) return {};
  if (Result<> begun = store_.Begin(); !begun) return begun;
  inTransaction_ = true;
  // After a failure the burst's events are written again in the new transaction.
  for (const Event& e : batch_) {
    if (Result<> written = Write(e); !written) return written;
  }
  return {};
}

Result<> EventStoreSink::Write(const Event& event) {
  return Write(store_, event);
}

Result<> EventStoreSink::Write(EventStore& store, const Event& event) {
  return store.Insert(event, classify_ ? classify_(event) : StoredClass{});
}

bool EventStoreSink::Failed(const Problem& problem) {
  storeProblem_ = problem;
  store_.Rollback();
  inTransaction_ = false;
  if (!failing_) {
    failing_ = true;
    Tell(report_.problem, "Хранилище событий " + path_ + " не записывается: " + problem.text +
                              ". События ждут в очереди и будут записаны, как только это станет возможно; "
                              "наблюдение продолжается. (" +
                              problem.cause + ")");
  }
  return false;
}

void EventStoreSink::Healthy() {
  const bool wasFailing = failing_;
  failing_ = false;
  const std::uint64_t lost = dropped_.exchange(0);
  if (!wasFailing && lost == 0) return;
  std::string text = wasFailing ? "Хранилище событий " + path_ + " снова записывается."
                                : "Хранилище событий " + path_ + " не успевало записывать события.";
  if (lost > 0) text += " Не сохранено событий: " + std::to_string(lost) + ".";
  Tell(report_.recovered, text);
}

void EventStoreSink::Poll() {
  // Requests are written by other processes only, and data_version moves
  // with every commit of theirs: while it stands still, the answer is what
  // it was (a store of months holds many requests, all recorded).
  const Result<std::int64_t> version = store_.DataVersion();
  if (version && polledVersion_ && *polledVersion_ == *version) return;
  Result<std::vector<PendingAcknowledgement>> pending = store_.PendingAcknowledgements(lastRequest_);
  if (!pending) return;
  // Read before the query: what others commit meanwhile moves it again.
  if (version) polledVersion_ = *version;
  if (pending->empty()) return;
  lastRequest_ = pending->back().id;
  std::lock_guard lock(reportMutex_);
  for (PendingAcknowledgement& a : *pending) report_.acknowledgements.push_back(std::move(a));
  reportWaiting_.store(true, std::memory_order_release);
}

Result<> EventStoreSink::CommitBatch(bool dropLastOnFailure) {
  if (Result<> ready = Ready(); !ready) return ready;
  if (Result<> committed = store_.Commit(); !committed) {
    if (dropLastOnFailure) batch_.pop_back();  // offered again by the retry
    return committed;
  }
  inTransaction_ = false;
  written_ += batch_.size();
  batch_.clear();
  Healthy();
  return {};
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
    if (Result<> ready = Ready(); !ready) return Failed(ready.problem());
    if (Result<> written = Write(event); !written) return Failed(written.problem());
    batch_.push_back(event);
    // Commit when the burst is over (only this event is left) or big enough.
    if (Queued() > 1 && batch_.size() < kMaxBatch) return true;
  }
  if (inTransaction_ || !batch_.empty()) {
    if (Result<> committed = CommitBatch(!marker); !committed) return Failed(committed.problem());
  }
  if (marker) {
    // After the events before them: an answer kept means its request was recorded.
    if (AnswersWaiting()) {
      if (!store_.IsOpen()) {
        if (Result<> opened = OpenStore(); !opened) return Failed(opened.problem());
      }
      if (Result<> answered = WriteAnswers(); !answered) return Failed(answered.problem());
      Healthy();
    }
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
  if (closing_) {
    // Left when the sink stopped: kept for the next start.
    std::lock_guard lock(leftMutex_);
    left_.push_back(event);
    return;
  }
  ++dropped_;
  ++droppedTotal_;
}

}  // namespace pelvaron
