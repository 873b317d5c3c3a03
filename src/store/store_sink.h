#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "outputs/background_sink.h"
#include "store/event_store.h"

namespace pelvaron {

// Writes every event into the event store on the sink's own thread, so the
// tick never waits for the disk. Events are written in transactions of a
// burst at a time (committed as soon as nothing more waits). A store that
// cannot be written keeps the events in the queue and tries again every
// second; when the queue is full the newest are counted and dropped. The
// console's thread learns of it, once per outage, through TakeReport.
//
// At shutdown the store gets a short while (another program may hold it
// locked); what it could not take then is kept beside it in a small store
// of its own (UnsavedPath) and written into it, before anything newer, when
// it is next opened. The unsaved events are the history and the alarm
// queue's replay: an alarm left out would be gone from the queue after the
// restart although nobody acknowledged it.
class EventStoreSink : public BackgroundSink {
 public:
  static constexpr std::size_t kDefaultCapacity = 1000;
  static constexpr std::size_t kMaxBatch = 512;

  using Classifier = std::function<StoredClass(const Event&)>;

  // classify runs on the sink's thread: it must be pure (the priority table is).
  EventStoreSink(std::string path, Classifier classify, std::size_t capacity = kDefaultCapacity,
                 const char* vfs = nullptr);
  ~EventStoreSink() override;

  // Opens the store at once, on the caller's thread (start-up, before
  // Start), or says why not as the store does. The sink opens it by itself
  // otherwise. Events kept from an earlier shutdown are written first.
  Result<> OpenNow();
  // Where the events a shutdown could not write wait: "<store>.unsaved".
  std::string UnsavedPath() const { return path_ + ".unsaved"; }
  // The end: the store gets patienceMs to take what is queued, what it
  // could not take goes to UnsavedPath. Returns what the operator should
  // hear of it (empty when all was written). Safe to call twice.
  std::string Close(int patienceMs);
  // The caller has told the operator that the store is out of order: the
  // sink's first failure is then no news. Before Start.
  void MarkFailing() { failing_ = true; }
  // The writer's connection: for the caller only before Start (the replay of
  // the alarm queue at start-up).
  EventStore& store() { return store_; }
  const std::string& path() const { return path_; }

  // Asks the sink's thread to look for acknowledgements made without the
  // console, unless the store's files show that nothing was written since
  // the last look: true when it asked. Cheap (a stat, no wake of the sink's
  // thread when idle); the console's thread calls it every few seconds.
  bool RequestPoll();

  // The answers to requests from the broker, on the console's thread: the
  // one given to this request id (read from the store when OpenNow opened it,
  // or kept since), nothing for a request not answered yet.
  const CommandAnswer* AnswerTo(const std::string& request) const;
  // Keeps an answer at once; the sink's thread writes it after the events
  // published before it, and forgets answers older than kAnswerDays.
  void KeepAnswer(CommandAnswer answer);
  static constexpr int kAnswerDays = 30;

  // Whether TakeReport has something; the console's thread asks after every tick.
  bool ReportWaiting() const { return reportWaiting_.load(std::memory_order_acquire); }
  // What the console's thread should hear, taken once.
  struct Report {
    std::vector<PendingAcknowledgement> acknowledgements;
    std::string problem;    // the store stopped being written: once per outage
    std::string recovered;  // it is written again
  };
  Report TakeReport();

  // Waits until the sink's thread has written every event published before
  // this call and looked for acknowledgements, or the time is up (false).
  bool WaitUntilWritten(int timeoutMs);

  std::uint64_t Written() const { return written_.load(); }
  std::uint64_t Dropped() const { return droppedTotal_.load(); }

 protected:
  bool Deliver(const Event& event) override;
  void Overflow(const Event& event) override;
  int RetryDelayMs() const override { return retryMs_; }

 public:
  int retryMs_ = 1000;

 private:
  // Adds a sentence to a part of the report, for the console's thread.
  void Tell(std::string& field, const std::string& text);
  Result<> OpenStore();
  Result<> Ready();
  // The store could not take an event: told once per outage.
  bool Failed(const Problem& problem);
  void Healthy();
  void Poll();
  Result<> Write(const Event& event);
  Result<> Write(EventStore& store, const Event& event);
  Result<> CommitBatch(bool dropLastOnFailure);
  // Writes the events kept by an earlier shutdown into the open store and
  // removes their file; the store's failure when it could not take them now.
  Result<> TakeUnsaved();
  std::string KeepUnsaved(const std::vector<Event>& events);

  std::string path_;
  std::string wal_;  // SQLite's write-ahead log beside it
  Classifier classify_;
  const char* vfs_;
  EventStore store_;
  // The store's last failure since it was last opened: why, when an outage
  // is told and at shutdown.
  Problem storeProblem_;
  bool inTransaction_ = false;
  std::vector<Event> batch_;  // written in the open transaction, not yet committed
  std::int64_t lastRequest_ = 0;
  std::optional<std::int64_t> polledVersion_;  // data_version when the requests were last read
  // The console's thread's own: the store's log (or the store without one)
  // as RequestPoll last saw it.
  struct FileLook {
    std::int64_t inode = -1, size = 0, seconds = 0, nanoseconds = 0;  // inode -1: no file
    bool operator==(const FileLook&) const = default;
  };
  FileLook LookAtFiles() const;
  void PublishPollRequest();
  FileLook filesSeen_{-2};
  int quietRequests_ = 0;  // RequestPoll calls in a row that found it as it was
  static constexpr int kLookAnywayEvery = 15;
  bool failing_ = false;
  bool niced_ = false;
  bool unsavedChecked_ = false;  // the unsaved file was taken in, or found unreadable and left
  std::atomic<bool> closing_{false};
  bool closed_ = false;
  std::mutex leftMutex_;
  std::vector<Event> left_;  // what the queue still held when it stopped
  static constexpr int kWriterNice = 10;

  std::mutex reportMutex_;
  Report report_;
  std::atomic<bool> reportWaiting_{false};  // report_ holds something: set under reportMutex_
  std::atomic<std::uint64_t> dropped_{0};  // since the outage began
  std::atomic<std::uint64_t> droppedTotal_{0};
  std::atomic<std::uint64_t> written_{0};

  std::map<std::string, CommandAnswer> answers_;  // the console's thread's own
  std::mutex answersMutex_;
  std::vector<CommandAnswer> unwrittenAnswers_;
  bool AnswersWaiting();
  Result<> WriteAnswers();

  std::mutex handledMutex_;
  std::condition_variable handledChanged_;
  std::uint64_t tickets_ = 0;  // of WaitUntilWritten's markers
  std::uint64_t handled_ = 0;
};

}  // namespace pelvaron
