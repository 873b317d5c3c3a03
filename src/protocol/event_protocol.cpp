#include "protocol/event_protocol.h"

#include "core/cp1251.h"

namespace pelvaron {

std::string FormatStamp(const std::tm& local) {
  return FormatTime(local, "%d:%m:%Y, %H:%M:%S ");
}

EventProtocol::EventProtocol(const ConsoleSettings& settings, Clock& clock, FileSystem& fs, Operator& op)
    : settings_(settings), clock_(clock), fs_(fs), op_(op) {}

int EventProtocol::AppendStampedLine(std::string_view text) {
  std::string body = Utf8Prefix(text, kMaxStampedText);
  std::tm local{};
  std::string stamp = clock_.ToLocalTime(clock_.Now(), local) ? FormatStamp(local) : std::string();
  std::string line = stamp + "  " + body;
  AddToLog(log_.empty() ? body : line);
  return AppendToFile(line);
}

int EventProtocol::AppendPlainLine(std::string_view text) {
  std::string line = Utf8Prefix(text, kMaxPlainText);
  AddToLog(line);
  return AppendToFile(line);
}

void EventProtocol::ClearEventLog() {
  log_.clear();
  op_.LogCleared();
  AppendStampedLine(">> ");
}

void EventProtocol::AddToLog(std::string line) {
  log_.push_back(line);
  op_.LogLineAdded(line);
  if (log_.size() > static_cast<std::size_t>(MAX_LOG_LINES)) {
    log_.pop_front();
    op_.LogFirstLineRemoved();
  }
}

int EventProtocol::AppendToFile(const std::string& line) {
  if (settings_.bSaveProtocol == 0) return 0;
  std::string bytes = Utf8ToCp1251Lossy(line);
  bytes += "\r\n";
  int err = fs_.Append(settings_.ProtocolPath(),
                       {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  if (err != 0) {
    op_.ShowMessage({"Error in opening protocol file", "", MessageIcon::None});
    return kProtocolFileError;
  }
  return 0;
}

}  // namespace pelvaron
