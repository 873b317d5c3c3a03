#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/result.h"
#include "events/event.h"
#include "store/sqlite_handles.h"
#include "store/text_search.h"  // FoldCase: how HistoryQuery::text is matched

struct sqlite3;
struct sqlite3_stmt;

namespace pelvaron {

inline constexpr char kEventStoreFileName[] = "events.sqlite";

// What an event was for the alarm queue when it was stored.
struct StoredClass {
  std::string priority;  // the priority's name; empty for none
  int role = 0;          // 0 none, 1 alarm, 2 restore (AlarmRole's values)
  std::string key;       // pairs a restore with its alarm
};

// One stored event as the history shows it.
struct StoredEvent {
  std::int64_t id = 0;  // the row's number
  std::uint64_t seq = 0;
  std::int64_t time = 0;
  std::string timeText;
  std::string station;
  std::string kind;  // EventKindName
  std::string address;
  std::string text;
  std::string command;
  std::string detail;
  std::uint64_t ref = 0;
  StoredClass cls;
  std::vector<std::uint8_t> frame;  // a message's 10 bytes
  std::string operatorName;         // who did it; empty when nobody signed in
  // An alarm that has been acknowledged: when, with what note (set by Search).
  bool acknowledged = false;
  std::int64_t ackTime = 0;
  std::string ackNote;
};

// A search of the history. Every part that is set must hold.
struct HistoryQuery {
  std::optional<std::int64_t> from;  // calendar seconds, inclusive
  std::optional<std::int64_t> to;    // inclusive
  std::string address;               // exactly as the event log shows it: "0012"
  std::string priority;              // a priority's name
  std::string text;                  // a part of the text, in any letter case
  std::size_t limit = 0;             // the newest so many; 0 for all
};

// An acknowledgement asked for without the console (pelvaron-history --ack),
// not yet recorded by a console; with the event it names, when stored.
struct PendingAcknowledgement {
  std::int64_t id = 0;
  std::uint64_t ref = 0;
  std::int64_t time = 0;
  std::string note;
  std::string source;
  std::string operatorName;  // the Unix user who asked
  std::string address;
  std::string text;
};

// The answer given to a request from the broker, kept by its id.
struct CommandAnswer {
  std::string request;
  std::int64_t time = 0;  // when it was answered, calendar seconds
  bool accepted = false;
  std::string reason;  // why it was refused
  bool operator==(const CommandAnswer&) const = default;
};

// The event store: an SQLite database in the working folder, in WAL mode, so
// that a kill at any moment leaves every committed event and a reader never
// waits for the writer. One writer (the store's sink); any number of readers
// (the history window, pelvaron-history). What can fail answers with a
// Result whose Problem says what went wrong in the operator's words (text),
// in SQLite's (cause, "insert: database or disk is full", for the end of a
// message in parentheses) and SQLite's extended result code (code).
//
// Opening and closing are in event_store.cpp, the tables in event_schema.h,
// writing in event_store_writes.cpp, reading in event_store_search.cpp.
class EventStore {
 public:
  enum class Mode { ReadWrite, ReadOnly };

  EventStore() = default;
  ~EventStore();
  EventStore(const EventStore&) = delete;
  EventStore& operator=(const EventStore&) = delete;

  // How long a statement waits for another program's lock before it fails.
  static constexpr int kBusyWaitMs = 2000;

  // Opens the store, making it (and its tables) when writing. vfs names an
  // SQLite VFS other than the default (tests inject failures with one).
  Result<> Open(const std::string& path, Mode mode, const char* vfs = nullptr);
  // No wait for another program's lock goes on past this moment (the
  // monotonic clock's milliseconds): the process is ending. Any thread.
  void GiveUpWaitingAt(std::int64_t monotonicMs) { giveUpAt_.store(monotonicMs); }
  void Close();
  bool IsOpen() const { return db_ != nullptr; }

  // Writing.
  Result<> Begin();
  Result<> Commit();
  void Rollback();
  // An acknowledgement event also marks the requests it answers as recorded.
  Result<> Insert(const Event& event, const StoredClass& cls);
  // An event as another store kept it (its row number is not kept).
  Result<> InsertStored(const StoredEvent& event);
  // Whether an event with this number, time and kind is stored already.
  Result<bool> Holds(const StoredEvent& event);
  // pelvaron-history --ack: a request for the console to record; its row's number.
  Result<std::int64_t> RequestAcknowledgement(std::uint64_t ref, std::int64_t time, const std::string& note,
                                              const std::string& source, const std::string& operatorName = {});

  // Keeps an answer (a repeat of its request keeps the first) and forgets
  // those answered before forgetBefore.
  Result<> KeepAnswer(const CommandAnswer& answer, std::int64_t forgetBefore);
  // Every answer kept, oldest first.
  Result<std::vector<CommandAnswer>> Answers();

  // Reading, newest first.
  Result<std::vector<StoredEvent>> Search(const HistoryQuery& query);
  // How SQLite runs that search, one step a line: which index it takes.
  Result<std::string> SearchPlan(const HistoryQuery& query);
  // The newest event with this number; nothing when there is none.
  Result<std::optional<StoredEvent>> FindBySeq(std::uint64_t seq);
  // Requests after id that no console has recorded and that no
  // acknowledgement event answers yet, oldest first.
  Result<std::vector<PendingAcknowledgement>> PendingAcknowledgements(std::int64_t afterId);
  // SQLite's data_version: it moves when another connection (another
  // process) has committed since, never for this connection's own writes.
  // Only comparable between calls on one opening of the store.
  Result<std::int64_t> DataVersion();
  // Alarms, restores and acknowledgements since a time, oldest first: what
  // puts a console's alarm queue back after a restart.
  Result<std::vector<StoredEvent>> AlarmHistory(std::int64_t since);
  // Every stored event, oldest first.
  Result<std::vector<StoredEvent>> AllInOrder();
  // The events numbered from..to, in order, at most limit of them (one per number).
  Result<std::vector<StoredEvent>> SeqRange(std::uint64_t from, std::uint64_t to, std::size_t limit);
  // The number of stored events.
  Result<std::int64_t> Count();
  // The highest event number stored (0 when none): numbering goes on above it.
  Result<std::uint64_t> HighestSeq();

  sqlite3* handle() { return db_.get(); }

 private:
  // The failure of a step (what) with SQLite's code, in both words.
  Problem Fail(int code, const char* what) const;
  Result<> Prepare(SqlStatement& stmt, const char* sql);
  // A statement for one use, or the failure said as what.
  Result<SqlStatement> Statement(const std::string& sql, const char* what);
  // Steps a statement for one use through its rows, handing each to each(stmt),
  // and finalizes it; a failure is said as what.
  template <class Each>
  Result<> Rows(SqlStatement stmt, const char* what, Each&& each);
  Result<SqlStatement> PrepareSearch(const HistoryQuery& query, const char* prefix);

  SqlConnection db_;
  // Prepared once and kept; they go before the connection (declared after it).
  SqlStatement insert_;
  SqlStatement markAck_;
  SqlStatement pending_;
  SqlStatement dataVersion_;
  SqlStatement holds_;
  std::atomic<std::int64_t> giveUpAt_{INT64_MAX};
  std::int64_t busySince_ = 0;  // when the statement waiting now met the lock
  static int BusyWait(void* self, int count);
};

}  // namespace pelvaron
