#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "decode/decoded_message.h"

namespace pelvaron {

// Everything the console reports to the world beside its window: each decoded
// message and each of the console's own events. One model for every output
// (event stream, event command, broker, store), so they all say the same.
enum class EventKind : std::uint8_t {
  Message,                  // a receiver message, decoded
  ConsoleStarted,           // "Включение программы"
  ConsoleStopped,           // "Выключение программы"
  LinkLost,                 // "Нет связи с Велдор!"
  LinkRestored,             // "Восстановление связи с Велдор"
  LineFault,                // "Внимание, нет сигнала в телефонной линии!"
  LineRestored,             // "Телефонная линия в норме"
  EnclosureOpened,          // "Вскрытие корпуса Велдор!"
  EnclosureClosed,          // "Корпус Велдор закрыт"
  ObjectOverdue,            // no control message within the object's period
  ObjectBackInControl,      // an overdue object's count restarted
  ObjectsChanged,           // the operator changed objects (command says how)
  SettingsChanged,          // the operator accepted the program settings
  ReceiverSettingsWritten,  // the operator wrote the receiver's parameters
  AlarmAcknowledged,        // the operator acknowledged an alarm
  AlarmAction,              // the operator did something about an alarm (command: what)
  AlarmClosed,              // the operator closed an alarm (command: its outcome)
  OperatorSignedIn,         // an operator began work at the console
  OperatorSignedOut,        // the operator ended work at the console
};

// "message", "console-started", "link-lost" ...: stable names for outputs.
std::string_view EventKindName(EventKind kind);
// Every kind, in declaration order.
std::span<const EventKind> AllEventKinds();

struct Event {
  std::uint64_t seq = 0;     // strictly increasing, across restarts too
  std::int64_t time = 0;     // calendar seconds
  std::string timeText;      // ISO 8601 local time with its offset: 2026-12-07T10:22:20+03:00
  std::string station;       // the console's name among others on a broker
  EventKind kind = EventKind::Message;
  std::string address;       // the object's address as the event log shows it; empty when none
  std::string text;          // one line saying what happened, in Russian
  std::string command;       // ObjectsChanged: which command ("register", "delete" ...)
  std::string detail;        // more, where a kind has it (an acknowledgement's note ...)
  std::uint64_t ref = 0;     // AlarmAcknowledged, AlarmAction, AlarmClosed: the seq of the alarm's event
  std::string operatorName;  // who did it, for the operator's own events; empty when nobody is known
  // A message the alarm queue takes as an alarm (1) or a restore (2), as the
  // store's alarm column keeps it; 0 for every other event. With it, the
  // priority's name and the key that pairs a restore with its alarm.
  std::uint8_t alarmRole = 0;
  std::string priority;
  std::string alarmKey;
  // Kind Message: the decoded message; shared, so outputs never copy it.
  std::shared_ptr<const DecodedMessage> message;
};

// The one line of human text of a decoded message: the Contact ID event text,
// the first radio record's text, the loop-state unit's first line, the
// dialler's line; the type line's name for a unit with nothing more.
std::string MessageText(const DecodedMessage& message);

// Where the console hands its events. Called on the console's thread, in
// order; an implementation must not block it (queue, and deliver elsewhere).
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void Publish(const Event& event) = 0;
};

}  // namespace pelvaron
