#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pelvaron {

inline constexpr std::size_t kFrameSize = 10;
using FrameBytes = std::array<std::uint8_t, kFrameSize>;

enum class AddressClass : std::uint8_t {
  Decimal,  // four digit nibbles
  Binary,   // a 16-bit big-endian number (device types 16..23)
};

// What kind of unit spoke, which decides the lines after the type line.
enum class MessageKind : std::uint8_t {
  BadSum,       // the sum did not match: no lines at all
  ContactId,    // decimal address, any device type but the loop-state unit's
  LoopState,    // decimal address, device type 10
  Dialler,      // binary address, subtype 6
  Radio,        // binary address, subtype 1
  UnknownUnit,  // binary address, any other subtype: nothing after the type line
};

// The event-log lines of one message in one buffer: one allocation for all
// of them, and none once a reused message has grown to its traffic.
class MessageLines {
 public:
  static constexpr std::size_t kMaxLines = 16;

  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  std::string_view operator[](std::size_t i) const {
    return std::string_view(text_).substr(ends_[i], ends_[i + 1] - ends_[i]);
  }
  // All lines back to back, without separators.
  std::string_view Text() const { return text_; }

  void Clear() {
    text_.clear();
    count_ = 0;
  }
  // A line is built in place: Open, append to the buffer it returns, Close.
  std::string& Open() { return text_; }
  void Close() {
    if (count_ < kMaxLines) ends_[++count_] = static_cast<std::uint16_t>(text_.size());
  }
  void Add(std::string_view line) {
    text_ += line;
    Close();
  }

 private:
  std::string text_;
  std::array<std::uint16_t, kMaxLines + 1> ends_{};
  std::uint8_t count_ = 0;
};

// Short texts held inside the value, so that decoding allocates only for lines.
template <std::size_t N>
class SmallText {
 public:
  std::string_view view() const { return {chars_.data(), size_}; }
  void assign(std::string_view s) {
    size_ = s.size() < N ? s.size() : N;
    for (std::size_t i = 0; i < size_; ++i) chars_[i] = s[i];
  }
  void push_back(char c) {
    if (size_ < N) chars_[size_++] = c;
  }
  bool operator==(std::string_view s) const { return view() == s; }

 private:
  std::array<char, N> chars_{};
  std::size_t size_ = 0;
};

struct ContactIdFields {
  SmallText<3> codeText;   // three digit characters; a nibble above 9 shows as A..F
  int code = -1;           // the code as a number; -1 when a digit is not decimal
  bool newEvent = false;   // false: a restore
  SmallText<2> partition;  // two digit characters
  int partitionNumber = -1;
  SmallText<3> zone;       // zone or user, three digit characters
  int zoneNumber = -1;
};

struct LoopFields {
  bool broken = false;  // "нарушен"
  bool armed = false;   // "охраняется"
  bool alarm = false;   // "тревога"
  int loopType = 0;     // 0 "охранный", 1 "тревожный", 2 and 3 without a name
  bool linked = false;  // "cвязан c ПЦН"
  bool silentAlarm = false;  // kind 6 only
};

struct LoopStateFields {
  int kind = 0;             // bits 7..4 of the first byte
  int guard = 0;            // guard number, bits 7..4 of the third byte
  bool duress = false;      // kinds 2, 3 and 5: under duress
  bool tamperRestored = false;  // kind 1: the tamper switch back in order
  bool controlMessage = false;  // kind 2: restarts the control period of the address
  std::array<LoopFields, 2> loops{};
  std::array<std::uint8_t, 3> bytes{};  // frame bytes 3..5 as they came
};

struct DiallerFields {
  std::uint8_t byte = 0;  // frame byte 4
  int message = 0;        // bits 7..4
  bool set = false;       // bit 0
  bool known = false;     // a message the unit's table names
};

// One line of a radio message: the record as written, with the partition or
// relay output it stands for when the record carried a mask.
struct RadioRecordFields {
  std::uint8_t eventCode = 0;
  bool newEvent = false;
  int expander = 0;      // bits 7..4 of the unit byte
  int deviceKind = 0;    // bits 3..0 of the unit byte
  int source = 0;        // bits 5..0 of the source byte: user, key fob, address...
  bool upperBank = false;  // bit 6 of the source byte
  std::uint8_t detail = 0;  // partition, relay, group, number or value, as written
};

// Everything one receiver frame means, and its exact event-log lines.
// A plain value: no clock, no files, no registry.
struct DecodedMessage {
  static constexpr std::size_t kMaxRadioRecords = 8;

  FrameBytes raw{};
  bool sumOk = false;
  std::uint16_t sum = 0;  // of bytes 0..7: what bytes 8 and 9 should hold
  MessageKind kind = MessageKind::BadSum;

  AddressClass addressClass = AddressClass::Decimal;
  SmallText<5> address;    // as the address line shows it: "0012", or "4660"
  int addressNumber = -1;  // -1 for a decimal address with a digit above 9
  int deviceType = 0;      // bits 4..0 of byte 2
  bool newEventBit = false;  // bit 5 of byte 2
  int subtype = -1;        // byte 3 of a binary-address unit; -1 otherwise
  SmallText<48> deviceName;  // as the type line shows it

  ContactIdFields contactId;   // kind ContactId
  LoopStateFields loopState;   // kind LoopState
  DiallerFields dialler;       // kind Dialler
  std::array<RadioRecordFields, kMaxRadioRecords> radio{};  // kind Radio
  std::size_t radioCount = 0;

  MessageLines lines;
  static constexpr std::size_t kStampedLine = 1;  // "Сообщение : " carries the time
  bool IsStamped(std::size_t line) const { return sumOk && line == kStampedLine; }
};

// Decodes frame[0..9]; nothing else is read. Cannot fail: a wrong sum gives
// kind BadSum and no lines. The second form reuses the value's buffers.
//
// Garbled frames are shown as they came: a digit nibble of 10..15 shows as
// the letter A..F, and such an event code has no number (the fallback texts).
DecodedMessage DecodeMessage(const std::uint8_t* frame);
void DecodeMessage(const std::uint8_t* frame, DecodedMessage& out);

// A short stable name of the kind, for machine-readable output: "contact-id" ...
std::string_view MessageKindName(MessageKind kind);

}  // namespace pelvaron
