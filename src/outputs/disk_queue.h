#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "core/unique_fd.h"

namespace pelvaron {

// A place in the queue: a segment file and a byte offset in it.
struct QueuePosition {
  std::uint64_t segment = 0;
  std::uint64_t offset = 0;
  auto operator<=>(const QueuePosition&) const = default;
};

// Records waiting on disk for a receiver that may be away (the broker), in a
// folder of their own: append-only segment files of whole lines, and a small
// file with the position up to which the receiver has acknowledged them.
//
// - A record is written whole or not at all: a write cut short is taken back,
//   and a torn last line left by a crash is cut off when the queue is opened.
// - The queue is bounded: past maxBytes unacknowledged, the oldest segment is
//   given up (Dropped() counts its records), so a long outage costs the
//   oldest events, never the newest, and never the disk.
// - Records are read in order from a cursor; Rewind() goes back to the first
//   unacknowledged one (after a lost connection or a restart).
// - Nothing here syncs by itself: Sync() makes appended records and the
//   acknowledged position durable, and its caller decides how often.
//
// What fails says why with the system's error as the problem's code.
//
// Thread-safe: one thread may append while another reads and acknowledges.
class DiskQueue {
 public:
  struct Limits {
    std::uint64_t maxBytes = 64ull << 20;
    std::uint64_t segmentBytes = 4ull << 20;
  };
  struct Record {
    std::string data;
    QueuePosition end;  // acknowledge this to be done with the record
  };

  // What Open found that is not a whole record of the queue: files in the
  // folder it leaves alone (other names, links, folders), and a record cut
  // off at the end of the last segment (by a crash), which it removed.
  struct Findings {
    std::vector<std::string> foreign;  // file names
    std::string tornSegment;           // a path, or empty
    std::uint64_t tornBytes = 0;
  };

  explicit DiskQueue(std::string dir);
  DiskQueue(std::string dir, Limits limits);
  ~DiskQueue();
  DiskQueue(const DiskQueue&) = delete;
  DiskQueue& operator=(const DiskQueue&) = delete;

  // Creates or opens the folder, repairs a torn tail, finds where the last
  // run's acknowledgements ended. A queue that could not be opened may be
  // opened again later. Files are never read or written through a symbolic
  // link.
  Result<> Open();
  bool IsOpen() const;
  Findings TakeFindings();

  // One record (without a line end, which it must not contain); when it
  // fails, nothing of the record is left behind.
  Result<> Append(std::string_view record);

  // Up to max records from the cursor on, in order; the cursor moves past them.
  std::size_t ReadNext(std::size_t max, std::vector<Record>& out);
  // The cursor back to the first unacknowledged record.
  void Rewind();
  bool HasUnread() const;

  // Every record up to end has been received. Kept in the position file
  // (written at once, durable with the next Sync); segments wholly behind it
  // are deleted.
  Result<> Acknowledge(QueuePosition end);

  // Flushes appended records and the acknowledged position to the disk, when
  // there is anything new.
  Result<> Sync();
  // Something waits for Sync.
  bool Dirty() const;

  std::uint64_t PendingBytes() const;
  std::uint64_t Dropped() const;
  const std::string& Dir() const { return dir_; }
  std::string SegmentPath(std::uint64_t segment) const;

 private:
  Result<> OpenLocked();
  void CloseAll();
  Result<> OpenWriteSegment(std::uint64_t segment, bool create);
  void NormalizeHead();
  void DropOldest();
  Result<> WriteAcknowledged();
  std::uint64_t PendingLocked() const;

  const std::string dir_;
  const Limits limits_;
  mutable std::mutex mutex_;
  std::map<std::uint64_t, std::uint64_t> segments_;  // number -> bytes
  std::uint64_t writeSegment_ = 0;
  UniqueFd writeFd_;
  UniqueFd ackFd_;
  UniqueFd readFd_;
  std::uint64_t readSegment_ = 0;
  QueuePosition head_;    // the first unacknowledged byte
  QueuePosition cursor_;  // the next byte to read
  bool writeDirty_ = false;
  bool ackDirty_ = false;
  std::uint64_t dropped_ = 0;
  Findings findings_;
};

}  // namespace pelvaron
