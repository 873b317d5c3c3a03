#pragma once

#include <string>
#include <vector>

namespace pelvaron {

enum class MessageIcon { None, Error, Exclamation, Question, Information };

// An informational message box: one OK button. An empty title means the box
// gives no title of its own, and the shell shows the program's name there.
struct OperatorMessage {
  std::string text;
  std::string title;
  MessageIcon icon = MessageIcon::None;

  bool operator==(const OperatorMessage&) const = default;
};

// One row of the object list, ready to show (texts in UTF-8).
struct ObjectListRow {
  bool bAlarm = false;   // red icon when set, green otherwise
  std::string address;   // column 0: a space and the address
  std::string control;   // column 1: "+" or "-"
  std::string period;    // column 2
  std::string lastLink;  // column 3
  std::string comment;   // column 4

  bool operator==(const ObjectListRow&) const = default;
};

// The four status fields of the main window and the flags that colour them.
struct StatusView {
  std::string m_strDateTime;
  std::string m_strLinkState;
  std::string m_strCaseState;
  std::string m_strLineState;
  int bLinkOk = 0;
  int bCaseClosed = 1;
  int bLineOk = 1;

  bool operator==(const StatusView&) const = default;
};

// Everything the core tells the operator. Calls come from the core's thread;
// a shell that shows them elsewhere must hand them over and must not block
// the core on informational messages.
class Operator {
 public:
  virtual ~Operator() = default;

  virtual void ShowMessage(const OperatorMessage& message) = 0;

  // Event log changes, in the order they happen.
  virtual void LogLineAdded(const std::string& /*line*/) {}
  virtual void LogFirstLineRemoved() {}
  virtual void LogCleared() {}

  // The object list was rebuilt from the table.
  virtual void ObjectListRefreshed(const std::vector<ObjectListRow>& /*rows*/) {}

  // The status fields were set anew (redisplay).
  virtual void Redisplay(const StatusView& /*status*/) {}

  // Progress of a receiver settings exchange: shown with the two texts, or hidden.
  virtual void ExchangeProgress(bool /*shown*/, const std::string& /*text1016*/,
                                const std::string& /*text1017*/) {}

  // The audible alarm, once for this tick: play alarm.wav and/or sound the
  // four speaker tones. Only called when the console's switches allow it.
  // newAlarm: an alarm has just come (a sound that failed is tried again).
  virtual void SoundAlarm(bool /*playFile*/, bool /*beep*/, bool /*newAlarm*/) {}
};

}  // namespace pelvaron
