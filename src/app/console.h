#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/clock.h"
#include "core/file_system.h"
#include "core/operator.h"
#include "core/serial_port.h"
#include "decode/decoded_message.h"
#include "events/event.h"
#include "events/event_sequence.h"
#include "link/device_map.h"
#include "link/port_watch.h"
#include "link/receiver_link.h"
#include "link/receiver_settings.h"
#include "objects/object_registry.h"
#include "protocol/event_protocol.h"
#include "protocol/program_settings.h"
#include "protocol/settings.h"

namespace pelvaron {

// Texts of the status fields.
inline constexpr char kStateNormal[] = "  Норма  ";
inline constexpr char kLinkAbsent[] = "  Отсутствие!  ";
inline constexpr char kLineAbsent[] = "  Отсутствие !  ";
inline constexpr char kCaseOpened[] = "  ВСКРЫТ !  ";
inline constexpr char kStartNormal[] = "Норма";

// A read phase that succeeded: what the page shows and the block it came from.
struct ReceiverSettingsRead {
  ParameterBlock block;
  ReceiverPageValues page;
};

// The process-wide state of the console and everything it does: start-up,
// the half-second tick, the operator's commands, shutdown. Single-threaded:
// a shell drives it from one thread and never calls it from another.
class Console {
 public:
  Console(Clock& clock, FileSystem& fs, Operator& op, SerialPort& port, DeviceMap devices);

  // The start-up steps that are not about drawing: status texts, settings,
  // port, objects, and the opening protocol lines.
  void Startup();
  // The port closed and "Выключение программы" written; safe to call twice.
  // Nothing runs after it: ticks and commands then do nothing.
  void Shutdown();
  bool IsShutDown() const { return shutDown_; }

  // One tick of the supervision timer.
  void OnTimer();

  // "Очистить".
  void ClearEventLog() { protocol_.ClearEventLog(); }

  // Program settings: the page's values, and what OK does with them.
  ProgramSettingsValues ProgramSettingsPage() const { return FillProgramSettings(settings); }
  bool AcceptProgramSettings(const ProgramSettingsValues& page);

  // Receiver settings: the read phase (reopening the port first when it is
  // not open); nothing when it failed, after its message. Then the write phase
  // of the page accepted by the operator.
  std::optional<ReceiverSettingsRead> ReadReceiverSettings();
  int WriteReceiverSettings(const ParameterBlock& read, const ReceiverPageValues& page);

  // Where the console's events go (none by default), and the station's name
  // they carry. Set before Startup; the sink lives longer than the console.
  void SetEventSink(EventSink* sink, std::string station);
  // Events of earlier runs, kept elsewhere (the store), go up to this number:
  // numbering goes on above it, also when events.seq is lost or damaged.
  // Before Startup; not called: nothing is known beyond events.seq.
  void NumberEventsAbove(std::uint64_t highest) { storedSeq_ = highest; }
  // Publishes an event of the console's own with the next number and the
  // current time (for the shells' additions, such as acknowledgements).
  void Publish(Event event);

  EventProtocol& Protocol() { return protocol_; }
  ObjectRegistry& Objects() { return objects_; }
  ReceiverLink& Link() { return link_; }
  const StatusView& Status() const { return status_; }

  // The audible overdue alarm's switches; off unless a shell turns them on.
  bool bAlarmSound = false;
  bool bAlarmBeep = false;

  // Process-wide state, by the system's own names.
  ConsoleSettings settings = ConsoleSettings::Defaults();
  std::int64_t timeNow = 0;
  int nNoLinkTicks = 0;
  int bReopenCom = 0;
  int bSkipMinute = 1;
  int nLastMinute = 0;

 private:
  void Redisplay() { op_.Redisplay(status_); }
  // events.seq read, and the store's highest number above it; damage told.
  void StartNumbering();
  bool LocalTime(std::tm& tm);
  // Returns false when the tick ends after the indicators (STATUS_HOLD).
  bool StatusStep(std::uint8_t status);
  // The link bookkeeping of a status request's result; true when a status byte came.
  bool LinkStep(int result);
  // Returns false when the tick ends here (the swallowed minute).
  bool MinuteStep(const std::tm* local);
  void AlarmStep(const std::tm* local);
  int Decode(const std::uint8_t* buffer);
  // A stamped protocol line that is also one of the console's events.
  void Say(EventKind kind, const std::string& line, std::string address = {});
  void OnObjectChange(const ObjectChange& change);

  Clock& clock_;
  FileSystem& fs_;
  Operator& op_;
  DeviceMap devices_;
  EventProtocol protocol_;
  ObjectRegistry objects_;
  ReceiverLink link_;
  PortWatch portWatch_{link_};  // the automatic reopen
  StatusView status_;
  std::int64_t shownMinute_ = -2;  // the local minute status_.m_strDateTime shows (-1: no time)
  DecodedMessage message_;  // the last frame's, its buffers reused
  EventSink* events_ = nullptr;
  std::string station_;
  EventSequence sequence_;
  std::optional<std::uint64_t> storedSeq_;
  bool shutDown_ = false;
};

}  // namespace pelvaron
