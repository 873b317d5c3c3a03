#include "decode/frame.h"

#include <array>
#include <cstdio>
#include <span>
#include <string_view>

#include "decode/contact_id.h"
#include "decode/loop_state.h"
#include "decode/radio.h"

namespace pelvaron {

namespace {

struct CodeText {
  int code;
  const char* text;
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
// An event code with a nibble above 9 has no number; no row has this one.
constexpr int kNoEventCode = -1;

constexpr std::string_view kHeader = "Сообщение : ";
constexpr std::string_view kAddressPrefix = "     Адрес объекта:      [";
constexpr std::string_view kAddressSuffix = "]";
constexpr std::string_view kTypePrefix = "     Тип прибора на объекте - [";
constexpr std::string_view kTypeSuffix = "]";
constexpr std::string_view kUnknownUnitPrefix = "Неизвестный, тип:";
constexpr std::string_view kCodePrefix = "    [";
constexpr std::string_view kNewCodeSuffix = ".нов]";
constexpr std::string_view kRestoreCodeSuffix = ".восст]";
constexpr std::string_view kPartitionPrefix = "    Код раздела:           [";
constexpr std::string_view kZonePrefix = "    Номер зоны/пользователя:     [";
constexpr std::string_view kBracketSuffix = "]";
constexpr const char* kBodyFormat = "    (Тело: %02x %02x %02x %02x)";
constexpr const char* kChecksumText = "Ошибка контрольной суммы!";
constexpr const char* kChecksumTitle = "Ошибка";

// A digit nibble above 9 shows as its uppercase hexadecimal letter, so a
// garbled frame still shows what the receiver sent.
char DigitChar(unsigned nibble) {
  return "0123456789ABCDEF"[nibble & 0x0Fu];
}

void AppendDigits(std::string& out, std::uint8_t byte) {
  out += DigitChar(static_cast<unsigned>(byte) >> 4u);
  out += DigitChar(byte);
}

// A unit without a name of its own shows its number, decimal or binary class alike.
std::string UnitName(std::span<const CodeText> table, int code) {
  for (const CodeText& row : table) {
    if (row.code == code) return row.text;
  }
  return std::string(kUnknownUnitPrefix) + std::to_string(code);
}

std::string Join(std::string_view prefix, std::string_view value, std::string_view suffix) {
  std::string line;
  line.reserve(prefix.size() + value.size() + suffix.size());
  line += prefix;
  line += value;
  line += suffix;
  return line;
}

}  // namespace

int DecodeFrame(const std::uint8_t* frame, EventProtocol& protocol, Operator& op, ObjectRegistry& objects) {
  if (frame == nullptr) return 1;

  unsigned sum = 0;
  for (std::size_t i = 0; i < 8; ++i) sum += frame[i];
  if (sum != (static_cast<unsigned>(frame[8]) << 8u | frame[9])) {
    op.ShowMessage({kChecksumText, kChecksumTitle, MessageIcon::Error});
    return 1;
  }

  protocol.AppendPlainLine(" ");
  protocol.AppendStampedLine(kHeader);

  std::string raw = "    [ ";
  for (std::size_t i = 0; i < kFrameSize; ++i) {
    raw += std::to_string(frame[i]);
    raw += "  ";
  }
  raw += ']';
  protocol.AppendPlainLine(raw);

  const int deviceType = frame[2] & 0x1F;
  const bool newEvent = (frame[2] & 0x20) != 0;
  // deviceType 16..23 (bits 4..3 binary 10) carries a 16-bit binary address.
  const bool binaryAddress = (deviceType & 0x18) == 0x10;

  if (binaryAddress) {
    char body[48];
    std::snprintf(body, sizeof body, kBodyFormat, frame[4], frame[5], frame[6], frame[7]);
    protocol.AppendPlainLine(body);
    const int subtype = frame[3];
    const unsigned number = static_cast<unsigned>(frame[0]) << 8u | frame[1];
    protocol.AppendPlainLine(Join(kAddressPrefix, std::to_string(number), kAddressSuffix));
    protocol.AppendPlainLine(Join(kTypePrefix, UnitName(kBinaryUnitNames, subtype), kTypeSuffix));
    if (subtype == kSubtypeDialler) {
      DecodeDiallerMessage(frame[4], protocol);
    } else if (subtype == kSubtypeRadio) {
      DecodeRadioMessage(RadioRecord{frame[4], frame[5], frame[6], frame[7]}, protocol);
    }
    return 0;
  }

  std::string address;
  AppendDigits(address, frame[0]);
  AppendDigits(address, frame[1]);
  protocol.AppendPlainLine(Join(kAddressPrefix, address, kAddressSuffix));
  protocol.AppendPlainLine(Join(kTypePrefix, UnitName(kDecimalUnitNames, deviceType), kTypeSuffix));

  if (deviceType == kDeviceTypeLoopState) {
    DecodeLoopState(frame[3], frame[4], frame[5], address, protocol, objects);
    return 0;
  }

  // Contact ID: the code's digits are byte 4 and the high nibble of byte 5;
  // the zone or user is the low nibble of byte 5 and byte 6.
  const unsigned codeDigits[] = {static_cast<unsigned>(frame[4]) >> 4u, frame[4] & 0x0Fu,
                                 static_cast<unsigned>(frame[5]) >> 4u};
  std::string codeText;
  int code = 0;
  for (unsigned digit : codeDigits) {
    codeText += DigitChar(digit);
    code = (code == kNoEventCode || digit > 9) ? kNoEventCode : code * 10 + static_cast<int>(digit);
  }
  protocol.AppendPlainLine(Join(kCodePrefix, codeText, newEvent ? kNewCodeSuffix : kRestoreCodeSuffix));
  protocol.AppendPlainLine(Join("[", ContactIdEventText(code, newEvent ? 1 : 0), "]"));

  std::string partition;
  AppendDigits(partition, frame[3]);
  protocol.AppendPlainLine(Join(kPartitionPrefix, partition, kBracketSuffix));

  std::string zone(1, DigitChar(frame[5]));
  AppendDigits(zone, frame[6]);
  protocol.AppendPlainLine(Join(kZonePrefix, zone, kBracketSuffix));
  return 0;
}

}  // namespace pelvaron
