#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "alarms/alarm_queue.h"
#include "alarms/priority_table.h"

namespace pelvaron {

// One row of the alarm queue's window, ready to show.
struct AlarmRow {
  AlarmEntry entry;
  std::string priorityName;   // "fire"
  std::string priorityTitle;  // "Пожар"
  std::string colour;         // "#FF4040" or empty
  std::string comment;        // the object's comment from the objects table
};

// What the queue's window shows, sent whole on every change.
struct AlarmView {
  std::vector<AlarmRow> rows;  // waiting first, then by priority, the longest waiting first
  bool raise = false;          // a new alarm wants the window in front
  bool sounding = false;       // an alarm waits for acknowledgement
  std::string operatorName;    // who works at the console now; empty when nobody signed in
};

// The alarm queue beside a running console, on the console's thread: it sees
// every event the console publishes, sounds while an alarm waits for
// acknowledgement, records what the operator does about an alarm (its
// acknowledgement, his actions, its close: each a stamped protocol line and
// an event of the console's own, naming him) and tells a window what to list.
class AlarmDesk : public EventSink {
 public:
  // Where the desk reaches the console; all called on the console's thread.
  struct Hooks {
    // A stamped protocol line and the plain lines under it.
    std::function<void(const std::string&, const std::vector<std::string>&)> protocolLines;
    std::function<void(Event)> publish;                        // numbered and timed by the console
    std::function<std::string(const std::string&)> commentOf;  // an object's comment by its address
    // One burst of the audible alarm; newAlarm: an alarm came since the last one.
    std::function<void(bool newAlarm)> sound;
    std::function<void(const std::string&)> refused;  // why a request was not done, for the operator
    std::function<std::int64_t()> now;                 // the console's time, for what the operator does
  };

  static constexpr int kSoundEverySeconds = 3;
  // A note must fit one plain protocol line after its label.
  static constexpr std::size_t kMaxNoteChars = 120;

  explicit AlarmDesk(PriorityTable table);
  AlarmDesk(const AlarmDesk&) = delete;
  AlarmDesk& operator=(const AlarmDesk&) = delete;

  void SetHooks(Hooks hooks) { hooks_ = std::move(hooks); }
  // Told of every change, on the console's thread.
  void SetListener(std::function<void(const AlarmView&)> listener);

  const PriorityTable& table() const { return table_; }
  const AlarmQueue& queue() const { return queue_; }

  // Every event of the console.
  void Publish(const Event& event) override;
  // An event from the store, with the class it was stored with: puts the
  // queue back as it was before a restart (acknowledged, actions, closed).
  // Nothing is recorded or sounded.
  void Replay(const Event& event, const AlarmClass& cls);
  // After the replay: the window shows the queue, brought to the front when
  // an alarm from before the restart waits for acknowledgement.
  void ReplayDone();

  // The operator acknowledges the entries with these ids, with an optional
  // note: those he saw, never one that came meanwhile. They stay, in hand,
  // until they are closed. Returns how many were acknowledged (one gone or
  // acknowledged already is skipped). A note with a control character is
  // refused (told through the refused hook): nothing is acknowledged.
  int Acknowledge(const std::vector<std::uint64_t>& ids, const std::string& note);
  // An acknowledgement made without the console (pelvaron-history --ack) of
  // the event numbered ref: recorded as the window's are, naming its source
  // and who made it. The event's address and text come from the store (empty
  // when unknown). Its texts come from outside: a control character in them
  // shows as its mark.
  void AcknowledgeFromOutside(std::uint64_t ref, const std::string& address, const std::string& text,
                              const std::string& note, const std::string& source,
                              const std::string& operatorName = {});
  // The operator records what he did about the entry with this id: an action
  // of kAlarmActions with its detail. False, and told why, when the entry is
  // gone, the action unknown or the detail holds what a protocol line cannot.
  bool AddAction(std::uint64_t id, const std::string& code, const std::string& detail);
  // The operator closes the entry with this id with an outcome of
  // kAlarmOutcomes ("other" needs a note). False, and told why, when it
  // cannot be closed so; nothing is recorded then.
  bool Close(std::uint64_t id, const std::string& outcome, const std::string& note);

  // The same three asked for from elsewhere (through the broker), in the name
  // of whoever asked there, and recorded as the window's are: empty when
  // done, else why not, for the asker (the console's operator hears nothing
  // of it). An acknowledgement names its source in its stamped line.
  std::string AcknowledgeFor(std::uint64_t id, const std::string& note, const std::string& operatorName,
                             const std::string& source);
  std::string AddActionFor(std::uint64_t id, const std::string& code, const std::string& detail,
                           const std::string& operatorName);
  std::string CloseFor(std::uint64_t id, const std::string& outcome, const std::string& note,
                       const std::string& operatorName);

  // Who works at the console now ("" when nobody has signed in): named in
  // everything the operator does. A change is recorded as the previous
  // operator's end of work and the next one's start.
  void SetOperator(const std::string& name);
  const std::string& operatorName() const { return operator_; }
  // A sign-in refused (a wrong PIN or password): recorded in the protocol.
  void RecordRefusedSignIn(const std::string& name);

  // Every tick, with the console's time: the audible alarm, every third
  // second while an alarm waits for acknowledgement. A burst says whether an
  // alarm came since the one before (a sound that fails is tried again then).
  void Tick(std::int64_t now);

  AlarmView View(bool raise = false) const;
  // Moves with every change a window is told of.
  std::uint64_t changes() const { return changes_; }

  // How the operator's doing is written: one stamped protocol line (short,
  // as stamped lines are), the details as plain lines under it (the
  // operator last, when known), and all of it in one line as the event's text.
  struct Record {
    std::string stamped;
    std::vector<std::string> plain;
    std::string text;
  };
  static Record AcknowledgementRecord(std::uint64_t id, const std::string& address, const std::string& text,
                                      const std::string& note, const std::string& source,
                                      const std::string& operatorName = {});
  static Record ActionRecord(std::uint64_t id, const std::string& address, const std::string& code,
                             const std::string& detail, const std::string& operatorName);
  static Record CloseRecord(std::uint64_t id, const std::string& address, const std::string& outcome,
                            const std::string& note, const std::string& operatorName);

 private:
  void Changed(bool raise);
  // Writes a record to the protocol and publishes it as an event.
  void Write(const Record& record, Event event);
  bool Refused(const std::string& why);
  std::int64_t Now() const { return hooks_.now ? hooks_.now() : 0; }

  PriorityTable table_;
  AlarmQueue queue_;
  Hooks hooks_;
  std::function<void(const AlarmView&)> listener_;
  std::string operator_;
  bool writing_ = false;  // our own event comes back through the console's outputs
  std::int64_t lastSound_ = -1;
  bool newAlarm_ = false;  // an alarm came since the last burst
  std::uint64_t changes_ = 0;
};

}  // namespace pelvaron
