#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "core/clock.h"
#include "core/operator.h"
#include "core/serial_port.h"
#include "link/device_map.h"
#include "protocol/settings.h"

namespace pelvaron {

// Bits of the receiver's status byte.
inline constexpr std::uint8_t STATUS_HOLD = 0x01;
inline constexpr std::uint8_t STATUS_NEW_MESSAGE = 0x02;
inline constexpr std::uint8_t STATUS_LINE_FAULT = 0x04;
inline constexpr std::uint8_t STATUS_CASE_CLOSED = 0x08;

// Driver queues and receive buffers.
inline constexpr std::size_t BUFFER_SIZE = 100;
inline constexpr std::size_t kOutputQueueSize = 10;
inline constexpr std::size_t kStatusBufferSize = 4;
inline constexpr std::size_t kMessageBufferSize = 20;
inline constexpr std::size_t kMessageSize = 10;
inline constexpr std::size_t kParameterAnswerSize = 8;
inline constexpr std::uint8_t kDataMarker = 0x64;   // 'd'
inline constexpr std::uint8_t kUnitKindBit = 0x80;  // byte 4 of the block: the console's receiver

// The time-outs every exchange relies on.
inline constexpr CommTimeouts kReceiverTimeouts{10, 10, 50, 40, 40};

// Fixed waits between a command and the reading of its answer, in ms.
inline constexpr int kNewMessageWaitMs = 100;
inline constexpr int kCurrentMessageWaitMs = 20;
inline constexpr int kParameterWaitMs = 100;
inline constexpr int kCurrentMessageAttempts = 5;

// Hands a received frame to the decoder: the buffer holds at least 10 bytes
// (the 20-byte receive buffer). 0 = accepted.
using FrameSink = std::function<int(const std::uint8_t* buffer)>;

// The receiver's five parameter bytes carried by "gd" and "sd".
struct ParameterBlock {
  std::uint8_t bytes[5];
  bool operator==(const ParameterBlock&) const = default;
};

// Result codes of ReadParameters / WriteParameters.
enum : int {
  kParamOk = 0,
  kParamNoAnswer = 1,
  kParamNoMarker = 2,
  kParamBadSum = 3,
  kParamObjectUnit = 4,
  kParamWriteDiffers = 5,
};

// The receiver link: the one serial port, its opening and the question and
// answer exchanges with the receiver. Every exchange empties the port's
// buffers first and its input buffer afterwards. It is called on the
// console's thread only (the window hands its commands to that thread), so
// exchanges never interleave on the wire. Frames and messages are handed out
// after the exchange has ended.
class ReceiverLink {
 public:
  ReceiverLink(SerialPort& port, Clock& clock, Operator& op, const ConsoleSettings& settings,
               const DeviceMap& devices);

  // Opens and configures the port of settings.nComPort. 0, or 1..6 for the
  // step that failed (the operator has been told). A failure after the device
  // was opened leaves it open with bComOpen set.
  int OpenComPort();
  // Empties both buffers and releases the port; bComOpen is left as it is.
  void CloseComPort();

  // The reopen the console makes by itself: closes and opens the port as
  // OpenComPort does, but tells the operator only what was not told yet in
  // this outage (one message per cause, not per try), and once the port is
  // open again after something was told, one message says so.
  int ReopenComPort();
  // The device failed while open (unplugged, I/O errors): tells the operator
  // once and lets go of it, so that it can be opened again when it is back.
  void ReleaseFailedPort();
  bool PortFailed() const;
  // How many times the port was opened or tried (any of the calls above).
  unsigned OpenCount() const { return openCount_; }
  // The process is ending: no exchange is started any more.
  bool Cancelled() const { return port_.Cancelled(); }
  // The fixed wait between a command and its answer: a sleep on the
  // monotonic clock.
  void WaitMs(int ms);

  bool bComOpen() const { return bComOpen_ != 0; }
  bool IsOpen() const;  // the handle is valid

  // "gs": 0 with the status byte, 1 no answer (or port not open: nothing is
  // sent), 2 answer too long (status untouched).
  int RequestStatus(std::uint8_t& status);
  // "gn" / "gc": the sink's result for an answer of exactly 10 bytes, else
  // not 0; a "gc" of the wrong length also shows the debug message.
  int GetNewMessage(const FrameSink& sink);
  int GetCurrentMessage(const FrameSink& sink);
  // One "gn", then up to five "gc" until the sink accepts a frame. After a
  // port that failed mid-fetch (ResumesFetch), "gc" comes first instead of
  // "gn": the receiver moved the message to its current one when the "gn"
  // reached it, and the answer was lost with the port. A cycle ends when the
  // port fails: nothing more gets through it.
  void PollMessages(const FrameSink& sink);
  // A fetch was cut short by the port failing: the next poll, also without
  // the status byte's new-message bit, asks for the current message first.
  bool ResumesFetch() const { return resumeFetch_; }

  // "gd" and "sd" with read-back: the kParam* codes.
  int ReadParameters(ParameterBlock& block);
  int WriteParameters(const ParameterBlock& block);

  // The port name of the last OpenComPort and the system's error code of its
  // device open (0 when it opened), for shells that log more than the box says.
  const std::string& ComName() const { return comName_; }
  int LastOpenError() const { return lastOpenError_; }

 private:
  int OpenPort(bool reopen);
  std::size_t Exchange(const std::uint8_t* command, std::size_t commandSize, int waitMs, std::uint8_t* answer,
                       std::size_t answerSize, unsigned purgeAfter);
  void Show(const char* text, const char* title, MessageIcon icon);
  // "gc"; noneIsNews: no answer at all is told apart (kNothingCurrent), quietly.
  int FetchCurrent(const FrameSink& sink, bool noneIsNews);

  SerialPort& port_;
  Clock& clock_;
  Operator& op_;
  const ConsoleSettings& settings_;
  const DeviceMap& devices_;
  int bComOpen_ = 0;
  std::string comName_;
  int lastOpenError_ = 0;
  unsigned openCount_ = 0;
  // What this outage has told the operator (empty once the port opened whole).
  std::string toldText_;
  bool deviceGone_ = false;  // the outage began with the device failing under us
  std::size_t written_ = 0;  // bytes of the last exchange's command that went out
  bool resumeFetch_ = false;
};

}  // namespace pelvaron
