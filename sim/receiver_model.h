#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/frames.h"

namespace pelvaron::sim {

// The commands the receiver knows, as a bit set for fault filters.
enum Command : unsigned {
  kCmdStatus = 1u << 0,   // "gs"
  kCmdNew = 1u << 1,      // "gn"
  kCmdCurrent = 1u << 2,  // "gc"
  kCmdRead = 1u << 3,     // "gd"
  kCmdWrite = 1u << 4,    // "sd"
};
inline constexpr unsigned kAnsweredCommands = kCmdStatus | kCmdNew | kCmdCurrent | kCmdRead;
inline constexpr unsigned kSummedCommands = kCmdNew | kCmdCurrent | kCmdRead;

const char* CommandName(unsigned command);

// A misbehaviour for the next `count` answers to the commands in `commands`.
struct Fault {
  enum class Kind {
    Short,     // the answer loses its last `amount` bytes
    Long,      // `amount` extra bytes follow the answer
    BadSum,    // the sum is off by one (frames and "gd" only)
    Late,      // the answer starts `amount` ms late
    Bytewise,  // `amount` ms between the answer's bytes
  };
  Kind kind = Kind::Short;
  int count = 1;  // kForever: until cleared
  unsigned commands = kAnsweredCommands;
  int amount = 1;

  static constexpr int kForever = -1;
};

// The "Велдор" receiver as the wire sees it. No clock and no device: bytes and
// the time they came in go in, bytes with the time each is due come out.
//
// Behaviour:
// - "gn" moves the oldest queued message into "current" and sends it; with an
//   empty queue it answers nothing. "gc" sends "current" again (nothing when
//   there is none). Status bit 1 is set while the queue is not empty.
// - "gd" answers the 8-byte block answer; "sd" stores the block and answers
//   nothing. Both need the count byte 5 (else they are ignored); the two zero
//   bytes are not checked.
// - Requests are recognised by their command letters; stray bytes are
//   skipped, and a request that stops halfway is dropped after 100 ms.
// - Answers go out one byte every byteTimeUs (19200 baud 8N1), in order; a
//   request that comes while an answer is still going out is answered after it.
class ReceiverModel {
 public:
  static constexpr std::int64_t kByteTimeUs = 521;  // 10 bits at 19200 baud
  static constexpr std::int64_t kPartialRequestUs = 100000;
  static constexpr std::size_t kQueueLimit = 1000;
  static constexpr std::array<std::uint8_t, 5> kDefaultParameters = {0x00, 0x00, 0x02, 0x04, 0x80};

  explicit ReceiverModel(std::int64_t byteTimeUs = kByteTimeUs);

  // Bytes from the console, arrived at nowUs.
  void Feed(const std::uint8_t* data, std::size_t size, std::int64_t nowUs);
  // Drops a half-received request that has waited too long.
  void Expire(std::int64_t nowUs);
  // The earliest time something is due: an answer byte or a request's expiry.
  std::optional<std::int64_t> NextDueUs() const;
  // Removes and returns the answer bytes due by nowUs.
  std::vector<std::uint8_t> TakeDue(std::int64_t nowUs);
  // Forgets answers not yet sent and half-received requests (device gone).
  void DropPending();
  // Sends bytes unasked (line noise), after whatever is already going out.
  void Emit(const std::vector<std::uint8_t>& bytes, std::int64_t nowUs);

  // Messages.
  bool Enqueue(const Frame& frame);  // false when the queue is full
  void ClearQueue();
  std::size_t QueueSize() const { return queue_.size(); }
  std::optional<Frame> Current() const { return current_; }

  // Status: bits 0, 2, 3 as set here, bit 1 from the queue; or a fixed byte.
  void SetStatusBits(std::uint8_t mask, std::uint8_t values);
  void SetStatusOverride(std::optional<std::uint8_t> byte) { statusOverride_ = byte; }
  std::uint8_t StatusByte() const;

  void SetParameters(const std::array<std::uint8_t, 5>& block) { parameters_ = block; }
  const std::array<std::uint8_t, 5>& Parameters() const { return parameters_; }
  // The next `count` writes keep only their first `keep` bytes.
  void SetPartialStore(int keep, int count);

  void AddFault(const Fault& fault) { faults_.push_back(fault); }
  void ClearFaults();
  const std::vector<Fault>& Faults() const { return faults_; }
  // No answers (and no stores) until the given time.
  void SilenceUntil(std::int64_t untilUs) { silentUntilUs_ = untilUs; }

  // One line per request and what was done with it, when set.
  std::function<void(const std::string&)> trace;
  // Every complete request seen, in order ("gs", "gn", ...), answered or not.
  const std::vector<std::string>& Requests() const { return requests_; }

 private:
  void Handle(unsigned command, const std::uint8_t* request, std::int64_t nowUs);
  void Answer(unsigned command, std::vector<std::uint8_t> bytes, std::int64_t nowUs);
  void Schedule(const std::vector<std::uint8_t>& bytes, std::int64_t startUs, std::int64_t gapUs);

  std::int64_t byteTimeUs_;
  std::vector<std::uint8_t> partial_;
  std::int64_t partialSinceUs_ = 0;
  struct Due {
    std::uint8_t byte;
    std::int64_t atUs;
  };
  std::deque<Due> outgoing_;
  std::deque<Frame> queue_;
  std::optional<Frame> current_;
  std::uint8_t statusBits_ = 0x08;  // enclosure closed, line in order
  std::optional<std::uint8_t> statusOverride_;
  std::array<std::uint8_t, 5> parameters_ = kDefaultParameters;
  int partialKeep_ = 5;
  int partialCount_ = 0;
  std::vector<Fault> faults_;
  std::int64_t silentUntilUs_ = 0;
  std::vector<std::string> requests_;
};

}  // namespace pelvaron::sim
