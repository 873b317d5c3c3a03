#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "core/clock.h"
#include "core/file_system.h"
#include "core/operator.h"
#include "protocol/settings.h"

namespace pelvaron {

inline constexpr int MAX_LOG_LINES = 400;
// Longest texts the writers take, in characters; longer ones are cut.
inline constexpr std::size_t kMaxStampedText = 77;
inline constexpr std::size_t kMaxPlainText = 149;
// Result of a writer whose protocol file could not be opened.
inline constexpr int kProtocolFileError = 7;

// "%d:%m:%Y, %H:%M:%S " of a local time (21 characters).
std::string FormatStamp(const std::tm& local);

// The two writers every subsystem uses: each line goes to the on-screen event
// log and, when bSaveProtocol is set, is appended to the protocol file in
// Windows-1251 with CR LF. The file is opened for each line and never held.
class EventProtocol {
 public:
  EventProtocol(const ConsoleSettings& settings, Clock& clock, FileSystem& fs, Operator& op);

  // The stamp, two spaces and the text. Into an empty log goes the bare text;
  // the file always gets the stamped line. Returns 0 or 7.
  int AppendStampedLine(std::string_view text);
  // The text as it is. Returns 0 or 7.
  int AppendPlainLine(std::string_view text);
  // Empties the log (the file keeps everything) and writes the stamped ">> ".
  void ClearEventLog();

  // The lines of one message reach the file in one append, whole or not at
  // all: between the two calls the writers collect what the file gets (and
  // return 0); EndBlock appends it and returns 0 or 7. The log gets each line
  // at once, as always.
  void BeginBlock();
  int EndBlock();

  const std::deque<std::string>& EventLog() const { return log_; }

 private:
  void AddToLog(std::string_view line);
  int AppendToFile(std::string_view line);
  // The stamp of the current second, formatted once per second.
  const std::string& Stamp();
  const std::string& ProtocolPath();

  const ConsoleSettings& settings_;
  Clock& clock_;
  FileSystem& fs_;
  Operator& op_;
  std::deque<std::string> log_;
  // Reused for every line, so that a line costs no allocation once warm.
  std::string line_;
  std::string fileBytes_;
  bool inBlock_ = false;
  std::int64_t stampTime_ = 0;
  bool stampValid_ = false;
  std::string stamp_;
  char pathField_[sizeof(ConsoleSettings::szProtocolPath)] = {};
  std::string path_;
  bool pathValid_ = false;
};

}  // namespace pelvaron
