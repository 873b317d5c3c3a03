// The decoders behind the frame, called directly with what a frame cannot
// give them in that order (a radio record after other lines, records beyond
// a mask), the code tables with any code, and the JSON writer with any text
// at all. The first byte picks the part (modulo 5), the rest is its input:
// one part an execution, each checked whole, at a fifth of the cost of all.

#include <cstring>
#include <string>

#include "core/cp1251.h"
#include "core/json_writer.h"
#include "decode/contact_id.h"
#include "decode/decoded_message.h"
#include "decode/loop_state.h"
#include "decode/radio.h"
#include "fuzz_support.h"
#include "protocol/event_protocol.h"
#include "support/strict_json.h"

using namespace pelvaron;

namespace {

// A value with room for its lines at once: growing the buffer line by line
// would cost more allocations than the decoding itself.
DecodedMessage Fresh() {
  DecodedMessage m;
  m.lines.Open().reserve(1024);
  return m;
}

std::uint8_t At(const std::uint8_t* data, std::size_t size, std::size_t i) {
  return i < size ? data[i] : 0;
}

void CheckStorable(const DecodedMessage& m) {
  for (std::size_t i = 0; i < m.lines.size(); ++i) {
    FUZZ_CHECK(FitsCp1251(m.lines[i]));
    FUZZ_CHECK(Utf8Length(m.lines[i]) <= kMaxPlainText);
  }
}

void Radio(const std::uint8_t* data, std::size_t size) {
  const RadioRecord record{At(data, size, 0), At(data, size, 1), At(data, size, 2), At(data, size, 3)};
  DecodedMessage m = Fresh();
  m.lines.Add(" ");  // lines of the frame before the record
  DecodeRadioMessage(record, m);
  // One line per partition or relay bit at most, and one record per line.
  FUZZ_CHECK(m.radioCount <= DecodedMessage::kMaxRadioRecords);
  FUZZ_CHECK(m.lines.size() == 1 + m.radioCount);
  const std::size_t count = m.radioCount;
  // One more record written as it is: one more line, and a record while there is room.
  FormatRadioRecord(record, m);
  FUZZ_CHECK(m.lines.size() == 2 + count);
  FUZZ_CHECK(m.radioCount == (count < DecodedMessage::kMaxRadioRecords ? count + 1 : count));
  CheckStorable(m);
  const int newEvent = (record.sourceByte & 0x80) ? 1 : 0;
  FUZZ_CHECK(m.lines[m.lines.size() - 1].find(RadioEventText(record.eventCode, newEvent)) == 5);
  for (int qualifier : {0, 1}) {
    const std::string text = RadioEventText(record.eventCode, qualifier);
    FUZZ_CHECK(!text.empty() && fuzz::StorableText(text));
  }
  FUZZ_CHECK(fuzz::StorableText(RadioDeviceKindName(record.unitByte)));
}

void LoopState(const std::uint8_t* data, std::size_t size) {
  DecodedMessage m = Fresh();
  DecodeLoopState(At(data, size, 0), At(data, size, 1), At(data, size, 2), m);
  // The first line, up to two silent-alarm lines, two lines per loop.
  FUZZ_CHECK(m.lines.size() >= 5 && m.lines.size() <= 7);
  FUZZ_CHECK(m.loopState.controlMessage == (At(data, size, 0) >> 4 == 2));
  CheckStorable(m);
}

void Dialler(const std::uint8_t* data, std::size_t size) {
  DecodedMessage m = Fresh();
  DecodeDiallerMessage(At(data, size, 0), m);
  FUZZ_CHECK(m.lines.size() == 1);
  FUZZ_CHECK(m.lines[0].empty() == !m.dialler.known);
  CheckStorable(m);
}

void ContactId(const std::uint8_t* data, std::size_t size) {
  std::int32_t code = 0;
  if (size > 0) std::memcpy(&code, data, size < sizeof code ? size : sizeof code);
  const int newEvent = static_cast<std::int8_t>(At(data, size, 4));
  const std::string_view text = ContactIdEventText(code, newEvent);
  FUZZ_CHECK(!text.empty() && fuzz::StorableText(text));
  // The decoder writes it in brackets on one plain line.
  FUZZ_CHECK(Utf8Length(text) + 2 <= kMaxPlainText);
}

// Any bytes as a JSON string: valid JSON on one line without a raw control
// character, read back as the text itself unless it had bytes that are not
// UTF-8. The strings are kept from one execution to the next only so that
// they need not grow again; each starts empty.
void JsonString(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  static std::string json;
  static std::string back;
  static std::string again;
  static std::string built;
  json.clear();
  back.clear();
  again.clear();
  built.clear();
  AppendJsonString(json, text);
  FUZZ_CHECK(fuzz::NoRawControl(json));
  // One JSON document, and a string (the strict reader's verdict).
  const auto value = testing::ParseJson(json);
  FUZZ_CHECK(value && value->is_string());
  back = value->get_ref<const std::string&>();
  const bool replaced = json.find("\\ufffd") != std::string::npos;
  if (!replaced) FUZZ_CHECK(fuzz::SameBytes(back, text));
  // Written again, the text read back gives the same JSON (no double escaping).
  AppendJsonString(again, back);
  if (!replaced) FUZZ_CHECK(fuzz::SameBytes(again, json));

  // Built in place, the same string.
  JsonWriter writer(built);
  writer.BeginArray().StringWith([&](std::string& out) { out += text; }).Int(static_cast<std::int64_t>(size));
  writer.EndArray();
  const std::string count = std::to_string(size);
  FUZZ_CHECK(built.size() == json.size() + count.size() + 3 && built.front() == '[' && built.back() == ']');
  FUZZ_CHECK(fuzz::SameBytes(std::string_view(built).substr(1, json.size()), json));
  FUZZ_CHECK(built[json.size() + 1] == ',' && fuzz::SameBytes(std::string_view(built).substr(json.size() + 2, count.size()), count));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t* input = data + 1;
  const std::size_t length = size - 1;
  switch (data[0] % 5) {
    case 0:
      Radio(input, length);
      break;
    case 1:
      LoopState(input, length);
      break;
    case 2:
      Dialler(input, length);
      break;
    case 3:
      ContactId(input, length);
      break;
    default:
      JsonString(input, length);
      break;
  }
  return 0;
}
