#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/file_system.h"
#include "core/result.h"
#include "events/event.h"

namespace pelvaron {

// The name of the table's file, in the working folder and among the resources.
inline constexpr char kPriorityTableFileName[] = "priorities.txt";

enum class AlarmHandling : std::uint8_t {
  Log,          // only in the history
  Queue,        // in the queue while it lasts; its restore ends it; silent
  Acknowledge,  // in the queue until acknowledged, sounding
};

struct Priority {
  std::string name;    // "fire": what the store and pelvaron-history use
  std::string title;   // "Пожар": what the operator reads
  std::string colour;  // "#FF4040", or empty for the list's own colours
  AlarmHandling handling = AlarmHandling::Log;
  bool raise = false;  // a new alarm brings the queue's window to the front
};

enum class AlarmRole : std::uint8_t {
  None,     // not an alarm (information, or no priority)
  Alarm,    // raises or repeats an alarm
  Restore,  // closes the alarm of the same key and address
};

// What one event means for the alarm queue.
struct AlarmClass {
  int priority = -1;  // index into the table's priorities, 0 the highest; -1 none
  AlarmRole role = AlarmRole::None;
  std::string key;  // with the event's address, pairs a restore with its alarm
};

// Which priority each kind of event has: Contact ID codes, radio event codes,
// loop-state and dialler messages, the console's own events. Data, not code:
// a table file, refused as a whole when any line of it is wrong.
class PriorityTable {
 public:
  // The table shipped with the program.
  static const PriorityTable& Defaults();

  const std::vector<Priority>& priorities() const { return priorities_; }
  // The index of the priority with this name, or -1.
  int Find(std::string_view name) const;
  // The priority at index, or nullptr for -1 and anything out of range.
  const Priority* At(int index) const;
  // The title of the priority with this name; the name itself when the table
  // has none (a store written with another table).
  std::string TitleOf(const std::string& name) const;

  // Pure: the same event gives the same class. An acknowledgement is no alarm.
  AlarmClass Classify(const Event& event) const;

  struct Rule;

 private:
  friend struct PriorityTableParser;
  std::vector<Priority> priorities_;
  std::vector<Rule> rules_;
};

struct PriorityTable::Rule {
  enum class Source : std::uint8_t { ContactId, Radio, Loop, Dialler, Console, BadSum, Default };
  Source source = Source::Default;
  std::vector<std::pair<int, int>> codes;  // inclusive ranges (Contact ID, radio)
  int what = 0;                            // loop or dialler message, console event kind
  // A loop rule's what besides the message's kind: duress is a flag of
  // several kinds; other is every kind no rule names.
  static constexpr int kDuress = -1;
  static constexpr int kOtherLoop = -2;
  int priority = 0;
};

struct ParsedPriorityTable {
  PriorityTable table;
  // "строка 12: ..." for each bad line, in order; empty when accepted.
  std::vector<std::string> errors;
  bool ok() const { return errors.empty(); }
};

// Parses a whole table; every bad line is reported, not only the first
// (priority_table_parser.cpp).
ParsedPriorityTable ParsePriorityTable(std::string_view text);

// The working folder's table, checked whole; the shipped one when there is
// no such file. A file that cannot be read or has a bad line is refused
// with the one message for the operator that says which line (and that the
// shipped table serves: TableInForce), the file system's code as its code.
Result<PriorityTable> LoadPriorityTable(FileSystem& fs, const std::string& path = kPriorityTableFileName);

// The table in force: what LoadPriorityTable gave, or the shipped one.
PriorityTable TableInForce(Result<PriorityTable> loaded);

// The text of the shipped table (src/res/priorities.txt).
std::string_view DefaultPriorityTableText();

}  // namespace pelvaron
