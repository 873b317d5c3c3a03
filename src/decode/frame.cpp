#include "decode/frame.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "decode/contact_id.h"
#include "decode/loop_state.h"
#include "decode/radio.h"
#include "decode/text_append.h"

namespace pelvaron {

namespace {

using decode_text::AppendHex2;
using decode_text::AppendUnsigned;
using decode_text::DigitChar;

struct CodeText {
  int code;
  std::string_view text;
};

// Units with a decimal address, by deviceType. 16..23 never get here: they
// are the binary-address class.
constexpr std::array kDecimalUnitNames = std::to_array<CodeText>({
    {1, "Доркан - 4 шл."},
    {2, "Доркан - 8 шл."},
    {3, "Доркан - 512"},
    {4, "Лирма -2"},
    {5, "Пирвен - 2А"},
    {6, "Пирвен - 4А"},
    {7, "Пирвен - 3"},
    {8, "Пирвен"},
    {9, "Сигнальные контакты"},
    {10, "ОРН"},
    {11, "Сеть"},
    {12, "Лирма-4"},
    {13, "Тамсир исп.4"},
    {31, "\"Contact-ID\""},
});

// Units with a binary address, by subtype (frame byte 3).
constexpr std::array kBinaryUnitNames = std::to_array<CodeText>({
    {1, "Варгот"},
    {6, "Тамсир и.1"},
});

constexpr int kSubtypeRadio = 1;
constexpr int kSubtypeDialler = 6;
constexpr int kDeviceTypeLoopState = 10;
constexpr std::string_view kHeader = "Сообщение : ";
constexpr std::string_view kAddressPrefix = "     Адрес объекта:      [";
constexpr std::string_view kTypePrefix = "     Тип прибора на объекте - [";
constexpr std::string_view kUnknownUnitPrefix = "Неизвестный, тип:";
constexpr std::string_view kCodePrefix = "    [";
constexpr std::string_view kNewCodeSuffix = ".нов]";
constexpr std::string_view kRestoreCodeSuffix = ".восст]";
constexpr std::string_view kPartitionPrefix = "    Код раздела:           [";
constexpr std::string_view kZonePrefix = "    Номер зоны/пользователя:     [";
constexpr std::string_view kBodyPrefix = "    (Тело: ";

// A unit without a name of its own shows its number, decimal or binary class alike.
void SetUnitName(SmallText<48>& name, std::span<const CodeText> table, int code) {
  for (const CodeText& row : table) {
    if (row.code == code) {
      name.assign(row.text);
      return;
    }
  }
  name.assign(kUnknownUnitPrefix);
  std::string number;
  AppendUnsigned(number, static_cast<unsigned>(code));
  for (char c : number) name.push_back(c);
}

void AddBracketed(MessageLines& lines, std::string_view prefix, std::string_view value,
                  std::string_view suffix = "]") {
  std::string& line = lines.Open();
  line += prefix;
  line += value;
  line += suffix;
  lines.Close();
}

unsigned Hi(std::uint8_t byte) {
  return static_cast<unsigned>(byte) >> 4u;
}
unsigned Lo(std::uint8_t byte) {
  return byte & 0x0Fu;
}

// Digit characters of nibbles, and their number when every digit is decimal.
template <std::size_t N>
int Digits(SmallText<N>& text, std::initializer_list<unsigned> nibbles) {
  int number = 0;
  for (unsigned nibble : nibbles) {
    text.push_back(DigitChar(nibble));
    number = (number < 0 || nibble > 9) ? -1 : number * 10 + static_cast<int>(nibble);
  }
  return number;
}

void DecodeContactId(const std::uint8_t* frame, DecodedMessage& out) {
  ContactIdFields& f = out.contactId;
  f.newEvent = out.newEventBit;
  // The code's digits are byte 4 and the high nibble of byte 5; the zone or
  // user is the low nibble of byte 5 and byte 6.
  f.code = Digits(f.codeText, {Hi(frame[4]), Lo(frame[4]), Hi(frame[5])});
  f.partitionNumber = Digits(f.partition, {Hi(frame[3]), Lo(frame[3])});
  f.zoneNumber = Digits(f.zone, {Lo(frame[5]), Hi(frame[6]), Lo(frame[6])});

  MessageLines& lines = out.lines;
  AddBracketed(lines, kCodePrefix, f.codeText.view(), f.newEvent ? kNewCodeSuffix : kRestoreCodeSuffix);
  AddBracketed(lines, "[", ContactIdEventText(f.code, f.newEvent ? 1 : 0));
  AddBracketed(lines, kPartitionPrefix, f.partition.view());
  AddBracketed(lines, kZonePrefix, f.zone.view());
}

}  // namespace

std::string_view MessageKindName(MessageKind kind) {
  switch (kind) {
    case MessageKind::BadSum:
      return "bad-sum";
    case MessageKind::ContactId:
      return "contact-id";
    case MessageKind::LoopState:
      return "loop-state";
    case MessageKind::Dialler:
      return "dialler";
    case MessageKind::Radio:
      return "radio";
    case MessageKind::UnknownUnit:
      break;
  }
  return "unknown-unit";
}

DecodedMessage DecodeMessage(const std::uint8_t* frame) {
  DecodedMessage message;
  DecodeMessage(frame, message);
  return message;
}

void DecodeMessage(const std::uint8_t* frame, DecodedMessage& out) {
  // Every field starts afresh; only the lines' buffer is kept for its capacity.
  MessageLines lines = std::move(out.lines);
  lines.Clear();
  out = DecodedMessage{};
  out.lines = std::move(lines);
  if (frame == nullptr) return;
  std::copy(frame, frame + kFrameSize, out.raw.begin());

  unsigned sum = 0;
  for (std::size_t i = 0; i < 8; ++i) sum += frame[i];
  out.sum = static_cast<std::uint16_t>(sum);
  out.sumOk = sum == (static_cast<unsigned>(frame[8]) << 8u | frame[9]);
  out.deviceType = frame[2] & 0x1F;
  out.newEventBit = (frame[2] & 0x20) != 0;
  // deviceType 16..23 (bits 4..3 binary 10) carries a 16-bit binary address.
  out.addressClass = (out.deviceType & 0x18) == 0x10 ? AddressClass::Binary : AddressClass::Decimal;
  if (!out.sumOk) return;

  MessageLines& text = out.lines;
  text.Add(" ");
  text.Add(kHeader);
  std::string& raw = text.Open();
  raw += "    [ ";
  for (std::size_t i = 0; i < kFrameSize; ++i) {
    AppendUnsigned(raw, frame[i]);
    raw += "  ";
  }
  raw += ']';
  text.Close();

  if (out.addressClass == AddressClass::Binary) {
    std::string& body = text.Open();
    body += kBodyPrefix;
    for (std::size_t i = 4; i < 8; ++i) {
      if (i > 4) body += ' ';
      AppendHex2(body, frame[i]);
    }
    body += ')';
    text.Close();
    out.subtype = frame[3];
    out.addressNumber = static_cast<int>(static_cast<unsigned>(frame[0]) << 8u | frame[1]);
    std::string number;
    AppendUnsigned(number, static_cast<unsigned>(out.addressNumber));
    out.address.assign(number);
    SetUnitName(out.deviceName, kBinaryUnitNames, out.subtype);
    AddBracketed(text, kAddressPrefix, out.address.view());
    AddBracketed(text, kTypePrefix, out.deviceName.view());
    if (out.subtype == kSubtypeDialler) {
      out.kind = MessageKind::Dialler;
      DecodeDiallerMessage(frame[4], out);
    } else if (out.subtype == kSubtypeRadio) {
      out.kind = MessageKind::Radio;
      DecodeRadioMessage(RadioRecord{frame[4], frame[5], frame[6], frame[7]}, out);
    } else {
      out.kind = MessageKind::UnknownUnit;
    }
    return;
  }

  out.addressNumber = Digits(out.address, {Hi(frame[0]), Lo(frame[0]), Hi(frame[1]), Lo(frame[1])});
  SetUnitName(out.deviceName, kDecimalUnitNames, out.deviceType);
  AddBracketed(text, kAddressPrefix, out.address.view());
  AddBracketed(text, kTypePrefix, out.deviceName.view());
  if (out.deviceType == kDeviceTypeLoopState) {
    out.kind = MessageKind::LoopState;
    DecodeLoopState(frame[3], frame[4], frame[5], out);
    return;
  }
  out.kind = MessageKind::ContactId;
  DecodeContactId(frame, out);
}

}  // namespace pelvaron
