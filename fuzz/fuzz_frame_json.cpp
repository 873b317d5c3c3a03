// The JSON of a decoded receiver frame (AppendMessageJson), from the same
// inputs as fuzz_frame: the first ten bytes decoded with the sum put right
// and then as they came (DecodeFrameBothWays).
//
// One line without a raw control character, valid JSON (strictly: UTF-8,
// escapes, no duplicate key, nothing after the object) that reads back to the
// value it came from: kind, sum_ok, every line, the stamped line, the radio
// records. The value itself is fuzz_frame's.

#include <iterator>
#include <string>
#include <string_view>

#include "decode/decoded_message.h"
#include "decode/message_json.h"
#include "fuzz_support.h"
#include "support/json_parse.h"

using namespace pelvaron;

namespace {

// Read in one pass without building it: an execution has no time for a tree.
void CheckJson(const DecodedMessage& m, const std::string& json) {
  FUZZ_CHECK(fuzz::NoRawControl(json));
  static std::string text;
  std::string_view keys[24];
  std::size_t keyCount = 0;
  std::size_t lines = 0;
  std::size_t records = 0;
  bool stamped = false;
  testing::json_detail::Parser reader(json);
  FUZZ_CHECK(reader.Open('{'));
  do {
    std::string_view key;
    FUZZ_CHECK(reader.Key(key));
    for (std::size_t i = 0; i < keyCount; ++i) FUZZ_CHECK(!fuzz::SameBytes(keys[i], key));
    FUZZ_CHECK(keyCount < std::size(keys));
    keys[keyCount++] = key;
    if (key == "lines") {
      // Each line checked and read back in the same pass. A string without
      // a backslash means its bytes as written, so the line is compared where
      // it lies; one with escapes is read out first.
      if (reader.Open('[')) {
        do {
          std::string_view raw;
          FUZZ_CHECK(lines < m.lines.size() && reader.RawValue(raw) && raw.size() >= 2 && raw.front() == '"');
          const std::string_view body = raw.substr(1, raw.size() - 2);
          if (!fuzz::HasByte(body, '\\')) {
            FUZZ_CHECK(fuzz::SameBytes(body, m.lines[lines]));
          } else {
            text.clear();
            FUZZ_CHECK(testing::ReadJsonString(raw, text) && fuzz::SameBytes(text, m.lines[lines]));
          }
          ++lines;
        } while (reader.Next());
      }
      FUZZ_CHECK(reader.End(']'));
      continue;
    }
    std::string_view value;
    FUZZ_CHECK(reader.RawValue(value));
    if (key == "kind") {
      text.clear();
      FUZZ_CHECK(testing::ReadJsonString(value, text) && fuzz::SameBytes(text, MessageKindName(m.kind)));
    } else if (key == "sum_ok") {
      FUZZ_CHECK(fuzz::SameBytes(value, m.sumOk ? "true" : "false"));
    } else if (key == "stamped_line") {
      FUZZ_CHECK(fuzz::SameBytes(value, m.lines.empty() ? "null" : "1"));
      stamped = true;
    } else if (key == "radio") {
      FUZZ_CHECK(testing::ForEachRawJsonItem(value, [&](std::string_view) { ++records; }));
    }
  } while (reader.Next());
  FUZZ_CHECK(reader.Close('}'));
  FUZZ_CHECK(stamped);
  FUZZ_CHECK(lines == m.lines.size());
  FUZZ_CHECK(records == m.radioCount);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::DecodeFrameBothWays(data, size, [](const std::uint8_t* /*frame*/, const DecodedMessage& message) {
    static std::string json;
    json.clear();
    AppendMessageJson(json, message);
    CheckJson(message, json);
  });
  return 0;
}
