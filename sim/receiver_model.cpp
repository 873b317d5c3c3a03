#include "sim/receiver_model.h"

#include <algorithm>

namespace pelvaron::sim {

namespace {

// Bytes each request has in all.
std::size_t RequestSize(unsigned command) {
  return command == kCmdRead ? 5 : command == kCmdWrite ? 10 : 2;
}

// The command of a request's first two bytes; 0 when they are none.
unsigned CommandOf(std::uint8_t a, std::uint8_t b) {
  if (a == 'g') {
    switch (b) {
      case 's':
        return kCmdStatus;
      case 'n':
        return kCmdNew;
      case 'c':
        return kCmdCurrent;
      case 'd':
        return kCmdRead;
      default:
        return 0;
    }
  }
  if (a == 's' && b == 'd') return kCmdWrite;
  return 0;
}

}  // namespace

const char* CommandName(unsigned command) {
  switch (command) {
    case kCmdStatus:
      return "gs";
    case kCmdNew:
      return "gn";
    case kCmdCurrent:
      return "gc";
    case kCmdRead:
      return "gd";
    case kCmdWrite:
      return "sd";
    default:
      return "?";
  }
}

ReceiverModel::ReceiverModel(std::int64_t byteTimeUs) : byteTimeUs_(byteTimeUs) {}

void ReceiverModel::Feed(const std::uint8_t* data, std::size_t size, std::int64_t nowUs) {
  Expire(nowUs);
  for (std::size_t i = 0; i < size; ++i) {
    partial_.push_back(data[i]);
    partialSinceUs_ = nowUs;
    // Resynchronise on the command letters: a byte that cannot start a
    // request is dropped, and so is a first letter with a wrong second one.
    while (!partial_.empty()) {
      if (partial_[0] != 'g' && partial_[0] != 's') {
        partial_.erase(partial_.begin());
        continue;
      }
      if (partial_.size() < 2) break;
      unsigned command = CommandOf(partial_[0], partial_[1]);
      if (command == 0) {
        partial_.erase(partial_.begin());
        continue;
      }
      if (partial_.size() < RequestSize(command)) break;
      std::vector<std::uint8_t> request(partial_.begin(), partial_.begin() + RequestSize(command));
      partial_.erase(partial_.begin(), partial_.begin() + RequestSize(command));
      Handle(command, request.data(), nowUs);
    }
  }
}

void ReceiverModel::Expire(std::int64_t nowUs) {
  if (!partial_.empty() && nowUs - partialSinceUs_ >= kPartialRequestUs) {
    if (trace) trace("dropped a half request of " + std::to_string(partial_.size()) + " bytes");
    partial_.clear();
  }
}

std::optional<std::int64_t> ReceiverModel::NextDueUs() const {
  std::optional<std::int64_t> due;
  if (!outgoing_.empty()) due = outgoing_.front().atUs;
  if (!partial_.empty()) {
    std::int64_t expiry = partialSinceUs_ + kPartialRequestUs;
    due = due ? std::min(*due, expiry) : expiry;
  }
  return due;
}

std::vector<std::uint8_t> ReceiverModel::TakeDue(std::int64_t nowUs) {
  std::vector<std::uint8_t> out;
  while (!outgoing_.empty() && outgoing_.front().atUs <= nowUs) {
    out.push_back(outgoing_.front().byte);
    outgoing_.pop_front();
  }
  return out;
}

void ReceiverModel::DropPending() {
  outgoing_.clear();
  partial_.clear();
}

void ReceiverModel::Emit(const std::vector<std::uint8_t>& bytes, std::int64_t nowUs) {
  Schedule(bytes, nowUs, 0);
}

bool ReceiverModel::Enqueue(const Frame& frame) {
  if (queue_.size() >= kQueueLimit) return false;
  queue_.push_back(frame);
  return true;
}

void ReceiverModel::ClearQueue() {
  queue_.clear();
}

void ReceiverModel::SetStatusBits(std::uint8_t mask, std::uint8_t values) {
  statusBits_ = static_cast<std::uint8_t>((statusBits_ & ~mask) | (values & mask));
}

std::uint8_t ReceiverModel::StatusByte() const {
  if (statusOverride_) return *statusOverride_;
  std::uint8_t s = statusBits_ & static_cast<std::uint8_t>(~0x02);
  if (!queue_.empty()) s |= 0x02;
  return s;
}

void ReceiverModel::SetPartialStore(int keep, int count) {
  partialKeep_ = std::clamp(keep, 0, 5);
  partialCount_ = count;
}

void ReceiverModel::ClearFaults() {
  faults_.clear();
  partialCount_ = 0;
  silentUntilUs_ = 0;
}

void ReceiverModel::Handle(unsigned command, const std::uint8_t* request, std::int64_t nowUs) {
  requests_.push_back(CommandName(command));
  auto note = [&](const std::string& what) {
    if (trace) trace(std::string(CommandName(command)) + ": " + what);
  };
  if (nowUs < silentUntilUs_) {
    note("silent");
    return;
  }
  switch (command) {
    case kCmdStatus:
      Answer(command, {StatusByte()}, nowUs);
      break;
    case kCmdNew:
      if (queue_.empty()) {
        note("queue empty, no answer");
        return;
      }
      current_ = queue_.front();
      queue_.pop_front();
      Answer(command, std::vector<std::uint8_t>(current_->begin(), current_->end()), nowUs);
      break;
    case kCmdCurrent:
      if (!current_) {
        note("no current message, no answer");
        return;
      }
      Answer(command, std::vector<std::uint8_t>(current_->begin(), current_->end()), nowUs);
      break;
    case kCmdRead: {
      if (request[4] != 5) {
        note("count is not 5, ignored");
        return;
      }
      auto a = ParameterAnswer(parameters_);
      Answer(command, std::vector<std::uint8_t>(a.begin(), a.end()), nowUs);
      break;
    }
    case kCmdWrite: {
      if (request[4] != 5) {
        note("count is not 5, ignored");
        return;
      }
      int keep = 5;
      if (partialCount_ != 0) {
        keep = partialKeep_;
        if (partialCount_ > 0) --partialCount_;
      }
      for (int i = 0; i < keep; ++i) parameters_[static_cast<std::size_t>(i)] = request[5 + i];
      note("stored " + std::to_string(keep) +
           " of 5 bytes: " + HexText(parameters_.data(), parameters_.size()));
      break;
    }
    default:
      break;
  }
}

void ReceiverModel::Answer(unsigned command, std::vector<std::uint8_t> bytes, std::int64_t nowUs) {
  std::int64_t delayUs = 0;
  std::int64_t gapUs = 0;
  std::string faults;
  for (auto it = faults_.begin(); it != faults_.end();) {
    Fault& f = *it;
    bool applies = (f.commands & command) != 0;
    if (f.kind == Fault::Kind::BadSum && !(command & kSummedCommands)) applies = false;
    if (!applies) {
      ++it;
      continue;
    }
    switch (f.kind) {
      case Fault::Kind::Short:
        bytes.resize(bytes.size() - std::min<std::size_t>(bytes.size(), static_cast<std::size_t>(f.amount)));
        faults += " short";
        break;
      case Fault::Kind::Long:
        for (int i = 0; i < f.amount; ++i) bytes.push_back(static_cast<std::uint8_t>(0xA5 ^ i));
        faults += " long";
        break;
      case Fault::Kind::BadSum:
        if (!bytes.empty()) bytes.back() = static_cast<std::uint8_t>(bytes.back() + 1);
        faults += " badsum";
        break;
      case Fault::Kind::Late:
        delayUs += static_cast<std::int64_t>(f.amount) * 1000;
        faults += " late";
        break;
      case Fault::Kind::Bytewise:
        gapUs = std::max<std::int64_t>(gapUs, static_cast<std::int64_t>(f.amount) * 1000);
        faults += " bytewise";
        break;
    }
    if (f.count > 0 && --f.count == 0) {
      it = faults_.erase(it);
    } else {
      ++it;
    }
  }
  if (trace) trace(std::string(CommandName(command)) + " -> " + HexText(bytes.data(), bytes.size()) + faults);
  Schedule(bytes, nowUs + delayUs, gapUs);
}

void ReceiverModel::Schedule(const std::vector<std::uint8_t>& bytes, std::int64_t startUs,
                             std::int64_t gapUs) {
  std::int64_t at = startUs;
  if (!outgoing_.empty()) at = std::max(at, outgoing_.back().atUs);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    // A byte is there once it has been on the wire for its whole time.
    at += (i == 0 || gapUs == 0) ? byteTimeUs_ : std::max(gapUs, byteTimeUs_);
    outgoing_.push_back({bytes[i], at});
  }
}

}  // namespace pelvaron::sim
