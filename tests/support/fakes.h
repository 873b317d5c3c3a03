#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/file_system.h"
#include "core/operator.h"

namespace pelvaron::testing {

// A clock that moves only when the test says so. Its local time is UTC.
class FakeClock : public Clock {
 public:
  std::int64_t now = 0;        // calendar seconds
  std::int64_t monotonic = 0;  // milliseconds
  bool convertible = true;
  std::vector<int> sleeps;  // every SleepMs, in order

  // Sets the calendar time from a local date and time.
  void SetLocal(int year, int month, int day, int hour, int minute, int second);
  void AdvanceSeconds(std::int64_t s) {
    now += s;
    monotonic += s * 1000;
  }

  std::int64_t Now() override { return now; }
  bool ToLocalTime(std::int64_t t, std::tm& out) override;
  std::int64_t MonotonicMs() override { return monotonic; }
  void SleepMs(int ms) override;

 private:
  int sleptRemainderMs_ = 0;
};

// Files in memory, with failures on demand.
class MemoryFileSystem : public FileSystem {
 public:
  std::map<std::string, std::vector<std::uint8_t>> files;
  int failRead = 0;     // error code returned by ReadPrefix, 0 for none
  int failReplace = 0;  // error code returned by ReplaceFile; the old file stays
  int failAppend = 0;   // error code returned by Append
  int replaceCount = 0;
  int appendCount = 0;

  int ReadPrefix(const std::string& path, std::size_t max, std::vector<std::uint8_t>& out) override;
  int ReplaceFile(const std::string& path, std::span<const std::uint8_t> data) override;
  int Append(const std::string& path, std::span<const std::uint8_t> data) override;
  bool Exists(const std::string& path) override { return files.count(path) != 0; }
  int failRename = 0;
  int Rename(const std::string& from, const std::string& to) override {
    if (failRename) return failRename;
    auto it = files.find(from);
    if (it == files.end()) return 2;
    files[to] = it->second;
    files.erase(from);
    return 0;
  }

  std::string Text(const std::string& path) const;  // the file's bytes as a string
};

// Remembers everything the core told the operator.
class RecordingOperator : public Operator {
 public:
  std::vector<OperatorMessage> messages;
  std::vector<std::string> log;  // the event log as the window would show it
  std::vector<std::vector<ObjectListRow>> refreshes;
  std::vector<StatusView> redisplays;
  struct Progress {
    bool shown;
    std::string text1016;
    std::string text1017;
  };
  std::vector<Progress> progress;

  void ShowMessage(const OperatorMessage& message) override { messages.push_back(message); }
  void LogLineAdded(const std::string& line) override { log.push_back(line); }
  void LogFirstLineRemoved() override { log.erase(log.begin()); }
  void LogCleared() override { log.clear(); }
  void ObjectListRefreshed(const std::vector<ObjectListRow>& rows) override { refreshes.push_back(rows); }
  void Redisplay(const StatusView& status) override { redisplays.push_back(status); }
  void ExchangeProgress(bool shown, const std::string& a, const std::string& b) override {
    progress.push_back({shown, a, b});
  }
  int alarmSounds = 0;
  void SoundAlarm(bool, bool, bool) override { ++alarmSounds; }
};

// "12 34 1F ..." (spaces optional) to bytes; aborts the test on bad input.
std::vector<std::uint8_t> Hex(const std::string& text);
// Windows-1251 bytes of a UTF-8 text, for comparing files.
std::string Cp(const std::string& utf8);

}  // namespace pelvaron::testing
