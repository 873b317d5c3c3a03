#include "protocol/event_protocol.h"

#include <cstring>

#include "core/cp1251.h"

namespace pelvaron {

std::string FormatStamp(const std::tm& local) {
  return FormatTime(local, "%d:%m:%Y, %H:%M:%S ");
}

EventProtocol::EventProtocol(const ConsoleSettings& settings, Clock& clock, FileSystem& fs, Operator& op)
    : settings_(settings), clock_(clock), fs_(fs), op_(op) {}

const std::string& EventProtocol::Stamp() {
  const std::int64_t now = clock_.Now();
  if (!stampValid_ || now != stampTime_) {
    std::tm local{};
    stamp_ = clock_.ToLocalTime(now, local) ? FormatStamp(local) : std::string();
    stampTime_ = now;
    stampValid_ = true;
  }
  return stamp_;
}

const std::string& EventProtocol::ProtocolPath() {
  // The path is read from the settings block again only when the block's
  // field changed. Bytes behind the terminating zero do not count.
  const std::size_t field = sizeof pathField_;
  const void* zero = std::memchr(pathField_, 0, field);
  const std::size_t used = zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - pathField_) + 1 : field;
  if (!pathValid_ || std::memcmp(pathField_, settings_.szProtocolPath, used) != 0) {
    std::memcpy(pathField_, settings_.szProtocolPath, field);
    path_ = settings_.ProtocolPath();
    pathValid_ = true;
  }
  return path_;
}

int EventProtocol::AppendStampedLine(std::string_view text) {
  const std::string_view body = Utf8PrefixView(text, kMaxStampedText);
  line_.assign(Stamp());
  line_ += "  ";
  line_ += body;
  AddToLog(log_.empty() ? body : std::string_view(line_));
  return AppendToFile(line_);
}

int EventProtocol::AppendPlainLine(std::string_view text) {
  const std::string_view line = Utf8PrefixView(text, kMaxPlainText);
  AddToLog(line);
  return AppendToFile(line);
}

void EventProtocol::ClearEventLog() {
  log_.clear();
  op_.LogCleared();
  AppendStampedLine(">> ");
}

void EventProtocol::AddToLog(std::string_view line) {
  const bool full = log_.size() >= static_cast<std::size_t>(MAX_LOG_LINES);
  // The line that drops out lends its storage to the new one.
  std::string storage;
  if (full) {
    storage = std::move(log_.front());
    log_.pop_front();
  }
  storage.assign(line);
  log_.push_back(std::move(storage));
  op_.LogLineAdded(log_.back());
  if (full) op_.LogFirstLineRemoved();
}

void EventProtocol::BeginBlock() {
  if (inBlock_) return;
  inBlock_ = true;
  fileBytes_.clear();
}

int EventProtocol::EndBlock() {
  if (!inBlock_) return 0;
  inBlock_ = false;
  if (fileBytes_.empty()) return 0;
  int err = fs_.Append(ProtocolPath(), {reinterpret_cast<const std::uint8_t*>(fileBytes_.data()), fileBytes_.size()});
  fileBytes_.clear();
  if (err != 0) {
    op_.ShowMessage({"Error in opening protocol file", "", MessageIcon::None});
    return kProtocolFileError;
  }
  return 0;
}

int EventProtocol::AppendToFile(std::string_view line) {
  if (settings_.bSaveProtocol == 0) return 0;
  if (!inBlock_) fileBytes_.clear();
  AppendUtf8AsCp1251Lossy(fileBytes_, line);
  fileBytes_ += "\r\n";
  if (inBlock_) return 0;
  int err = fs_.Append(ProtocolPath(), {reinterpret_cast<const std::uint8_t*>(fileBytes_.data()), fileBytes_.size()});
  if (err != 0) {
    op_.ShowMessage({"Error in opening protocol file", "", MessageIcon::None});
    return kProtocolFileError;
  }
  return 0;
}

}  // namespace pelvaron
