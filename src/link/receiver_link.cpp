#include "link/receiver_link.h"

#include <cstring>
#include <optional>
#include <utility>

namespace pelvaron {

namespace {

constexpr std::uint8_t kStatusCommand[] = {'g', 's'};
constexpr std::uint8_t kNewCommand[] = {'g', 'n'};
constexpr std::uint8_t kCurrentCommand[] = {'g', 'c'};
constexpr std::uint8_t kReadParamsCommand[] = {'g', 'd', 0x00, 0x00, 0x05};

constexpr char kTitleError[] = "Ошибка";
constexpr char kTitleDebugInfo[] = "Debug info";
constexpr char kTitleEnglishError[] = "Error";
constexpr char kWrongLengthText[] =
    "Debug information: there were very many or too few digits loaded on the Current Data request!";

constexpr int kWrongLength = 1;
constexpr int kNothingCurrent = -1;  // a sink says 0 or its own positive codes

}  // namespace

ReceiverLink::ReceiverLink(SerialPort& port, Clock& clock, Operator& op, const ConsoleSettings& settings,
                           const DeviceMap& devices)
    : port_(port), clock_(clock), op_(op), settings_(settings), devices_(devices) {}

void ReceiverLink::Show(const char* text, const char* title, MessageIcon icon) {
  op_.ShowMessage(OperatorMessage{text, title, icon});
}

int ReceiverLink::OpenComPort() {
  return OpenPort(false);
}

int ReceiverLink::ReopenComPort() {
  CloseComPort();
  return OpenPort(true);
}

bool ReceiverLink::PortFailed() const {
  return port_.IsOpen() && port_.Failed();
}

void ReceiverLink::ReleaseFailedPort() {
  const std::string name = comName_.empty() ? DeviceMap::ComName(settings_.nComPort) : comName_;
  const std::string text = "Связь с портом " + name +
                           " прервана: устройство отключено или неисправно. Порт будет открыт снова, "
                           "как только это станет возможно.";
  CloseComPort();
  deviceGone_ = true;
  if (toldText_ == text) return;
  toldText_ = text;
  Show(text.c_str(), kTitleError, MessageIcon::Error);
}

int ReceiverLink::OpenPort(bool reopen) {
  std::optional<OperatorMessage> message;
  int result = 0;
  ++openCount_;
  // A handle still open would be lost (and hold the device) once replaced.
  if (port_.IsOpen()) port_.Close();
  // Another port may lead to another receiver, whose current message is not ours to fetch.
  if (comName_ != DeviceMap::ComName(settings_.nComPort)) resumeFetch_ = false;
  comName_ = DeviceMap::ComName(settings_.nComPort);
  auto path = devices_.DevicePath(comName_);
  // A name without a device (an index outside the table) fails like a
  // device that cannot be opened; nothing outside the table is read.
  lastOpenError_ = path ? port_.Open(*path) : 2;
  if (lastOpenError_ != 0 || !port_.IsOpen()) {
    if (lastOpenError_ == 0) lastOpenError_ = -1;
    bComOpen_ = 0;
    message = OperatorMessage{
        "Не удаётся обнаружить " + comName_ + " !\n Возможно, ресурс используется другой программой.",
        kTitleError, MessageIcon::Error};
    result = 1;
  } else {
    bComOpen_ = 1;
    LineSettings line;
    if (!port_.GetLineSettings(line)) {
      message = OperatorMessage{"fSuccess = GetCommState(hCom, &dcb);", kTitleDebugInfo, MessageIcon::None};
      result = 1;
    } else {
      line.baudRate = 19200;
      line.dataBits = 8;
      line.parity = Parity::None;
      line.stopBits = StopBits::One;
      if (!port_.SetLineSettings(line)) {
        message =
            OperatorMessage{"fSuccess = SetCommState(hCom, &dcb);", kTitleDebugInfo, MessageIcon::None};
        result = 2;
      } else if (!port_.SetEventMask(EV_RXCHAR)) {
        message = OperatorMessage{"fSuccess = SetCommMask(hCom,EV_RXCHAR);", kTitleEnglishError,
                                  MessageIcon::Error};
        result = 3;
      } else if (!port_.SetQueueSizes(BUFFER_SIZE, kOutputQueueSize)) {
        message = OperatorMessage{"fSuccess = SetupComm(hCom, BUFFER_SIZE,10);", kTitleEnglishError,
                                  MessageIcon::Error};
        result = 4;
      } else if (!port_.Purge(PURGE_RXCLEAR | PURGE_TXCLEAR)) {
        message = OperatorMessage{"fSuccess = PurgeComm(hCom, PURGE_RXCLEAR | PURGE_TXCLEAR );",
                                  kTitleEnglishError, MessageIcon::Error};
        result = 5;
      } else if (!port_.SetTimeouts(kReceiverTimeouts)) {
        message = OperatorMessage{"fSuccess = SetCommTimeouts(hCom,&CommTimeouts);", kTitleEnglishError,
                                  MessageIcon::Error};
        result = 6;
      }
    }
  }
  if (!reopen) {
    // The operator's own opening always speaks, and starts a new outage.
    deviceGone_ = false;
    toldText_ = message ? message->text : std::string();
    if (message) op_.ShowMessage(*message);
    return result;
  }
  if (result == 0) {
    const bool told = !toldText_.empty();
    toldText_.clear();
    deviceGone_ = false;
    if (told) op_.ShowMessage({"Порт " + comName_ + " снова открыт.", "", MessageIcon::Information});
    return result;
  }
  // A device that went away is told once; that it cannot be found meanwhile
  // is the same cause.
  const bool sameCause = message->text == toldText_ || (deviceGone_ && result == 1 && lastOpenError_ != 0);
  if (!sameCause) {
    toldText_ = message->text;
    op_.ShowMessage(*message);
  }
  return result;
}

void ReceiverLink::CloseComPort() {
  if (!port_.IsOpen()) return;
  port_.Purge(PURGE_RXCLEAR | PURGE_TXCLEAR);
  port_.Close();
}

void ReceiverLink::WaitMs(int ms) {
  clock_.SleepMs(ms);
}

bool ReceiverLink::IsOpen() const {
  return port_.IsOpen();
}

std::size_t ReceiverLink::Exchange(const std::uint8_t* command, std::size_t commandSize, int waitMs,
                                   std::uint8_t* answer, std::size_t answerSize, unsigned purgeAfter) {
  std::memset(answer, 0, answerSize);
  written_ = 0;
  if (port_.Cancelled()) return 0;
  port_.Purge(PURGE_RXCLEAR | PURGE_TXCLEAR);
  written_ = port_.Write(command, commandSize);
  if (waitMs > 0) WaitMs(waitMs);
  std::size_t got = port_.Read(answer, answerSize);
  port_.Purge(purgeAfter);
  // A port that claims more than it was asked for is not believed.
  return got > answerSize ? answerSize : got;
}

int ReceiverLink::RequestStatus(std::uint8_t& status) {
  if (bComOpen_ == 0 || !port_.IsOpen()) return 1;
  std::uint8_t buffer[kStatusBufferSize];
  std::size_t got = Exchange(kStatusCommand, sizeof kStatusCommand, 0, buffer, sizeof buffer, PURGE_RXCLEAR);
  if (got == 0) return 1;
  if (got > 1) return 2;
  status = buffer[0];
  return 0;
}

int ReceiverLink::GetNewMessage(const FrameSink& sink) {
  std::uint8_t buffer[kMessageBufferSize];
  std::size_t got =
      Exchange(kNewCommand, sizeof kNewCommand, kNewMessageWaitMs, buffer, sizeof buffer, PURGE_RXCLEAR);
  if (got != kMessageSize) return kWrongLength;
  return sink ? sink(buffer) : kWrongLength;
}

int ReceiverLink::GetCurrentMessage(const FrameSink& sink) {
  return FetchCurrent(sink, false);
}

int ReceiverLink::FetchCurrent(const FrameSink& sink, bool noneIsNews) {
  std::uint8_t buffer[kMessageBufferSize];
  std::size_t got = Exchange(kCurrentCommand, sizeof kCurrentCommand, kCurrentMessageWaitMs, buffer, sizeof buffer,
                             PURGE_RXCLEAR);
  if (got != kMessageSize) {
    if (port_.Cancelled()) return kWrongLength;  // cut short on the way out: nothing to report
    if (got == 0 && noneIsNews) return kNothingCurrent;
    Show(kWrongLengthText, "", MessageIcon::None);
    return kWrongLength;
  }
  // Without a decoder nothing can accept the frame.
  return sink ? sink(buffer) : kWrongLength;
}

void ReceiverLink::PollMessages(const FrameSink& sink) {
  // Whether the receiver holds a message it has sent us and we have not taken.
  const bool resumed = std::exchange(resumeFetch_, false);
  bool owed = resumed;
  if (!resumed) {
    if (GetNewMessage(sink) == 0) return;
    owed = written_ == sizeof kNewCommand;
  }
  for (int attempt = 0; attempt < kCurrentMessageAttempts; ++attempt) {
    if (port_.Cancelled()) return;
    if (port_.Failed()) break;
    // A receiver that lost its current message (with its power) has nothing
    // for a resumed fetch: no answer then is no fault.
    const int result = FetchCurrent(sink, resumed && attempt == 0);
    if (result == 0 || result == kNothingCurrent) return;
  }
  // Cut short by the port: the next poll once it is back asks "gc" first.
  if (port_.Failed()) resumeFetch_ = owed;
}

int ReceiverLink::ReadParameters(ParameterBlock& block) {
  std::uint8_t answer[kParameterAnswerSize];
  std::size_t got = Exchange(kReadParamsCommand, sizeof kReadParamsCommand, kParameterWaitMs, answer,
                             sizeof answer, PURGE_RXCLEAR | PURGE_TXCLEAR);
  if (got < kParameterAnswerSize) return kParamNoAnswer;
  if (answer[0] != kDataMarker) return kParamNoMarker;
  unsigned sum = 0;
  for (std::size_t i = 0; i < 6; ++i) sum += answer[i];
  if (sum != static_cast<unsigned>(answer[6]) * 256u + answer[7]) return kParamBadSum;
  std::memcpy(block.bytes, answer + 1, sizeof block.bytes);
  return (block.bytes[4] & kUnitKindBit) ? kParamOk : kParamObjectUnit;
}

int ReceiverLink::WriteParameters(const ParameterBlock& block) {
  std::uint8_t command[10] = {'s', 'd', 0x00, 0x00, 0x05};
  std::memcpy(command + 5, block.bytes, sizeof block.bytes);
  port_.Purge(PURGE_RXCLEAR | PURGE_TXCLEAR);
  port_.Write(command, sizeof command);
  WaitMs(kParameterWaitMs);
  // Whatever the receiver says to "sd" is not read.
  port_.Purge(PURGE_RXCLEAR | PURGE_TXCLEAR);
  ParameterBlock readBack{};
  int r = ReadParameters(readBack);
  if (r != kParamOk) return r;
  for (std::size_t i = 0; i < sizeof block.bytes; ++i) {
    if (readBack.bytes[i] != block.bytes[i]) return kParamWriteDiffers;
  }
  return kParamOk;
}

}  // namespace pelvaron
