// Receiver frames: the first ten bytes of an input (shorter ones padded with
// zeros), as the link hands them to the decoder, decoded with the sum put
// right and then as they came (DecodeFrameBothWays).
//
// Checks are on the value, never on a console: the lines of each kind, every
// line storable in Windows-1251 and no longer than the writers take, the
// stamped line, the fields against the frame's bytes. The value's JSON is
// fuzz_frame_json's.

#include <cstring>
#include <initializer_list>
#include <string>

#include "core/cp1251.h"
#include "decode/contact_id.h"
#include "decode/decoded_message.h"
#include "decode/radio.h"
#include "fuzz_support.h"
#include "protocol/event_protocol.h"

using namespace pelvaron;

namespace {

unsigned Hi(std::uint8_t byte) {
  return static_cast<unsigned>(byte) >> 4u;
}
unsigned Lo(std::uint8_t byte) {
  return byte & 0x0Fu;
}

bool Bit(std::uint8_t byte, int bit) {
  return ((byte >> bit) & 1u) != 0;
}

// Digit characters of nibbles as the decoder shows them, and their number.
std::string Digits(std::initializer_list<unsigned> nibbles, int& number) {
  std::string text;
  number = 0;
  for (unsigned n : nibbles) {
    text += "0123456789ABCDEF"[n & 0x0Fu];
    number = (number < 0 || n > 9) ? -1 : number * 10 + static_cast<int>(n);
  }
  return text;
}

bool EndsWith(std::string_view line, std::string_view tail) {
  return line.size() >= tail.size() && line.substr(line.size() - tail.size()) == tail;
}

void CheckLines(const DecodedMessage& m) {
  std::size_t total = 0;
  for (std::size_t i = 0; i < m.lines.size(); ++i) {
    const std::string_view line = m.lines[i];
    total += line.size();
    FUZZ_CHECK(FitsCp1251(line));
    FUZZ_CHECK(Utf8Length(line) <= kMaxPlainText);
    FUZZ_CHECK(m.IsStamped(i) == (i == 1));
    if (m.IsStamped(i)) FUZZ_CHECK(Utf8Length(line) <= kMaxStampedText);
  }
  // No text hides behind the lines counted.
  FUZZ_CHECK(total == m.lines.Text().size());
}

void CheckContactId(const std::uint8_t* f, const DecodedMessage& m) {
  const ContactIdFields& c = m.contactId;
  int number = 0;
  FUZZ_CHECK(c.codeText == Digits({Hi(f[4]), Lo(f[4]), Hi(f[5])}, number) && c.code == number);
  FUZZ_CHECK(c.partition == Digits({Hi(f[3]), Lo(f[3])}, number) && c.partitionNumber == number);
  FUZZ_CHECK(c.zone == Digits({Lo(f[5]), Hi(f[6]), Lo(f[6])}, number) && c.zoneNumber == number);
  FUZZ_CHECK(c.newEvent == m.newEventBit);
  FUZZ_CHECK(m.lines.size() == 9);
  FUZZ_CHECK(m.lines[6] == "[" + std::string(ContactIdEventText(c.code, c.newEvent ? 1 : 0)) + "]");
}

void CheckLoopState(const std::uint8_t* f, const DecodedMessage& m) {
  const LoopStateFields& s = m.loopState;
  FUZZ_CHECK(s.kind == f[3] >> 4 && s.guard == f[5] >> 4);
  FUZZ_CHECK(s.bytes[0] == f[3] && s.bytes[1] == f[4] && s.bytes[2] == f[5]);
  FUZZ_CHECK(s.controlMessage == (s.kind == 2));
  FUZZ_CHECK(s.duress == ((s.kind == 2 || s.kind == 3 || s.kind == 5) && Bit(f[5], 3)));
  FUZZ_CHECK(s.tamperRestored == (s.kind == 1 && Bit(f[5], 7)));
  int silent = 0;
  for (int i = 0; i < 2; ++i) {
    const LoopFields& loop = s.loops[static_cast<std::size_t>(i)];
    FUZZ_CHECK(loop.armed == Bit(f[3], 1 - i) && loop.alarm == Bit(f[3], 3 - i));
    FUZZ_CHECK(loop.broken == Bit(f[4], 7 - i) && loop.linked == Bit(f[4], 1 - i));
    FUZZ_CHECK(loop.loopType == ((f[4] >> (4 - 2 * i)) & 3));
    FUZZ_CHECK(loop.silentAlarm == (s.kind == 6 && Bit(f[5], 7 - i)));
    silent += loop.silentAlarm ? 1 : 0;
  }
  // The kind's line, a line per silent alarm, two lines per loop.
  FUZZ_CHECK(m.lines.size() == 5u + 1u + static_cast<std::size_t>(silent) + 4u);
}

void CheckRadio(const std::uint8_t* f, const DecodedMessage& m) {
  FUZZ_CHECK(m.radioCount <= DecodedMessage::kMaxRadioRecords);
  FUZZ_CHECK(m.lines.size() == 6 + m.radioCount);
  for (std::size_t i = 0; i < m.radioCount; ++i) {
    const RadioRecordFields& r = m.radio[i];
    FUZZ_CHECK(r.eventCode == f[4] && r.newEvent == Bit(f[5], 7) && r.upperBank == Bit(f[5], 6));
    FUZZ_CHECK(r.source == (f[5] & 0x3F) && r.expander == f[7] >> 4 && r.deviceKind == (f[7] & 0x0F));
    // A mask gives one record per bit, in order.
    if (i > 0) FUZZ_CHECK(r.detail > m.radio[i - 1].detail);
    FUZZ_CHECK(m.lines[6 + i].substr(0, 5) == "     ");
    FUZZ_CHECK(m.lines[6 + i].substr(5).starts_with(RadioEventText(r.eventCode, r.newEvent ? 1 : 0)));
  }
}

void CheckFields(const std::uint8_t* f, const DecodedMessage& m) {
  const unsigned sum = fuzz::FrameSum(f);
  FUZZ_CHECK(std::memcmp(m.raw.data(), f, kFrameSize) == 0);
  FUZZ_CHECK(m.sum == sum);
  FUZZ_CHECK(m.sumOk == (sum == (static_cast<unsigned>(f[8]) << 8u | f[9])));
  FUZZ_CHECK(m.deviceType == (f[2] & 0x1F) && m.newEventBit == Bit(f[2], 5));
  const bool binary = m.deviceType >= 16 && m.deviceType <= 23;
  FUZZ_CHECK((m.addressClass == AddressClass::Binary) == binary);
  if (!m.sumOk) {
    FUZZ_CHECK(m.kind == MessageKind::BadSum && m.lines.empty() && m.radioCount == 0);
    return;
  }
  FUZZ_CHECK(m.lines.size() >= 5 && m.lines[0] == " " && m.lines[1] == "Сообщение : ");
  const std::size_t addressLine = binary ? 4 : 3;
  FUZZ_CHECK(EndsWith(m.lines[addressLine], "[" + std::string(m.address.view()) + "]"));
  FUZZ_CHECK(EndsWith(m.lines[addressLine + 1], "[" + std::string(m.deviceName.view()) + "]"));
  if (binary) {
    FUZZ_CHECK(m.addressNumber == (f[0] << 8 | f[1]));
    FUZZ_CHECK(m.address == std::to_string(m.addressNumber));
    FUZZ_CHECK(m.subtype == f[3]);
    const MessageKind kind = f[3] == 6 ? MessageKind::Dialler : f[3] == 1 ? MessageKind::Radio : MessageKind::UnknownUnit;
    FUZZ_CHECK(m.kind == kind);
  } else {
    int number = 0;
    FUZZ_CHECK(m.address == Digits({Hi(f[0]), Lo(f[0]), Hi(f[1]), Lo(f[1])}, number));
    FUZZ_CHECK(m.addressNumber == number && m.subtype == -1);
    FUZZ_CHECK(m.kind == (m.deviceType == 10 ? MessageKind::LoopState : MessageKind::ContactId));
  }
  switch (m.kind) {
    case MessageKind::ContactId:
      CheckContactId(f, m);
      break;
    case MessageKind::LoopState:
      CheckLoopState(f, m);
      break;
    case MessageKind::Dialler:
      FUZZ_CHECK(m.dialler.byte == f[4] && m.dialler.message == f[4] >> 4 && m.dialler.set == Bit(f[4], 0));
      FUZZ_CHECK(m.dialler.known == (m.dialler.message <= 3) && m.lines.size() == 7);
      FUZZ_CHECK(m.lines[6].empty() == !m.dialler.known);
      break;
    case MessageKind::Radio:
      CheckRadio(f, m);
      break;
    case MessageKind::UnknownUnit:
      FUZZ_CHECK(m.lines.size() == 6);
      break;
    case MessageKind::BadSum:
      FUZZ_CHECK(false);
  }
  if (m.kind != MessageKind::Radio) FUZZ_CHECK(m.radioCount == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::DecodeFrameBothWays(data, size, [](const std::uint8_t* frame, const DecodedMessage& message) {
    CheckFields(frame, message);
    CheckLines(message);
  });
  return 0;
}
