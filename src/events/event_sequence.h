#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "core/file_system.h"

namespace pelvaron {

inline constexpr char kEventSequenceFileName[] = "events.seq";

// Sequence numbers of events that survive restarts. A block of numbers is
// reserved in a small file before any of them is handed out, so a crash or a
// kill skips numbers but never gives one twice, and the file is written once
// per block, not once per event.
class EventSequence {
 public:
  static constexpr std::uint64_t kBlock = 1000;
  // Numbers are kept as signed 64-bit integers (the store's): a larger one
  // in the file is damage, never a number to wrap.
  static constexpr std::uint64_t kLargest = static_cast<std::uint64_t>(INT64_MAX) - kBlock;

  explicit EventSequence(FileSystem& fs, std::string path = kEventSequenceFileName);

  // Reads where the last run's reservation ended. Returns 0, or the system's
  // error code when an existing file could not be read or held no number
  // (EINVAL) or one beyond kLargest (ERANGE): numbering then starts at 1,
  // unless ContinueAbove says more, and the file is replaced.
  int Load();
  // Numbers up to highest were given by earlier runs (the store keeps
  // them): the next one is above it, whatever the file said.
  void ContinueAbove(std::uint64_t highest);
  // The number Next() gives next.
  std::uint64_t Peek() const { return next_; }
  // The next number, from 1. Never fails: when the reservation cannot be
  // written the numbers go on in memory and the write is tried again with the
  // next number; LastError() says why.
  std::uint64_t Next();
  int LastError() const { return lastError_; }

 private:
  FileSystem& fs_;
  std::string path_;
  std::uint64_t next_ = 1;
  std::uint64_t reservedUntil_ = 0;  // numbers below this are covered by the file
  int lastError_ = 0;
};

// "2026-12-07T10:22:20+03:00": ISO 8601 local time with its offset from UTC.
std::string IsoLocalTime(const std::tm& local);

}  // namespace pelvaron
