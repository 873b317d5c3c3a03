#include "decode/message_json.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fakes.h"
#include "support/strict_json.h"

namespace pelvaron {
namespace {

using testing::Hex;
using testing::Json;
using testing::ParseJson;

DecodedMessage Message(const std::string& hex) {
  std::vector<std::uint8_t> frame = Hex(hex);
  EXPECT_EQ(frame.size(), kFrameSize);
  return DecodeMessage(frame.data());
}

std::string Written(const DecodedMessage& m) {
  std::string out;
  AppendMessageJson(out, m);
  return out;
}

// The message's JSON read back, after the checks every object must pass.
Json Parsed(const DecodedMessage& m) {
  const std::string json = Written(m);
  EXPECT_EQ(json.find('\n'), std::string::npos);
  std::string error;
  auto value = ParseJson(json, &error);
  EXPECT_TRUE(value) << error << "\n" << json;
  if (!value) return {};
  // The lines are the decoder's, one string each.
  const Json& lines = value->at("lines");
  EXPECT_EQ(lines.size(), m.lines.size());
  for (std::size_t i = 0; i < lines.size() && i < m.lines.size(); ++i) EXPECT_EQ(lines[i], m.lines[i]);
  return *value;
}

std::int64_t Int(const Json& object, const char* key) {
  return object.contains(key) ? testing::Int(object[key]) : -999;
}
bool Bool(const Json& object, const char* key) {
  EXPECT_TRUE(object.contains(key) && object[key].is_boolean()) << key;
  return object.value(key, false);
}
std::string Text(const Json& object, const char* key) {
  EXPECT_TRUE(object.contains(key) && object[key].is_string()) << key;
  return object.value(key, "");
}
// The keys in the order written.
std::vector<std::string> Keys(const Json& object) {
  std::vector<std::string> keys;
  for (const auto& member : object.items()) keys.push_back(member.key());
  return keys;
}

TEST(MessageJson, ContactIdHasItsFieldsUnderStableNames) {
  const Json j = Parsed(Message("12 34 1F 01 13 00 01 00 00 7A"));
  const std::vector<std::string> keys = {"kind",        "sum_ok",   "sum",         "raw",        "address_class",
                                         "address",     "address_number", "device_type", "device_name", "new_event",
                                         "contact_id",  "lines",    "stamped_line"};
  EXPECT_EQ(Keys(j), keys);
  EXPECT_EQ(Text(j, "kind"), "contact-id");
  EXPECT_TRUE(Bool(j, "sum_ok"));
  EXPECT_EQ(Int(j, "sum"), 0x7A);
  EXPECT_EQ(Text(j, "raw"), "12 34 1F 01 13 00 01 00 00 7A");
  EXPECT_EQ(Text(j, "address_class"), "decimal");
  EXPECT_EQ(Text(j, "address"), "1234");
  EXPECT_EQ(Int(j, "address_number"), 1234);
  EXPECT_EQ(Int(j, "device_type"), 31);
  EXPECT_EQ(Text(j, "device_name"), "\"Contact-ID\"");
  EXPECT_FALSE(Bool(j, "new_event"));
  EXPECT_EQ(Int(j, "stamped_line"), 1);
  const Json& c = j.at("contact_id");
  EXPECT_EQ(Keys(c), (std::vector<std::string>{"code", "code_number", "new_event", "partition", "partition_number",
                                                 "zone", "zone_number", "text"}));
  EXPECT_EQ(Text(c, "code"), "130");
  EXPECT_EQ(Int(c, "code_number"), 130);
  EXPECT_FALSE(Bool(c, "new_event"));
  EXPECT_EQ(Text(c, "partition"), "01");
  EXPECT_EQ(Int(c, "partition_number"), 1);
  EXPECT_EQ(Text(c, "zone"), "001");
  EXPECT_EQ(Int(c, "zone_number"), 1);
  EXPECT_EQ(Text(c, "text"), "Восстановление охранной тревоги");
}

// Digits above 9 keep their letters and have no number.
TEST(MessageJson, GarbledDigitsHaveNoNumbers) {
  const DecodedMessage m = Message("1A 2B 3F C0 3A 0D EF 00 02 7A");
  const Json j = Parsed(m);
  EXPECT_EQ(Text(j, "address"), "1A2B");
  EXPECT_TRUE(j.at("address_number").is_null());
  EXPECT_TRUE(Bool(j, "new_event"));
  const Json& c = j.at("contact_id");
  EXPECT_EQ(Text(c, "code"), "3A0");
  EXPECT_TRUE(c.at("code_number").is_null());
  EXPECT_EQ(Text(c, "partition"), "C0");
  EXPECT_TRUE(c.at("partition_number").is_null());
  EXPECT_EQ(Text(c, "zone"), "DEF");
  EXPECT_TRUE(c.at("zone_number").is_null());
  // The event text is the one the event line shows in brackets.
  EXPECT_EQ("[" + Text(c, "text") + "]", m.lines[6]);
}

TEST(MessageJson, LoopStateHasBothLoops) {
  const Json alarm = Parsed(Message("04 27 0A 6F C3 C0 00 00 02 27"));
  EXPECT_EQ(Text(alarm, "kind"), "loop-state");
  EXPECT_EQ(Text(alarm, "device_name"), "ОРН");
  EXPECT_FALSE(alarm.contains("subtype"));  // decimal units have none
  const Json& s = alarm.at("loop_state");
  EXPECT_EQ(Keys(s),
            (std::vector<std::string>{"kind", "guard", "duress", "tamper_restored", "control_message", "loops"}));
  EXPECT_EQ(Int(s, "kind"), 6);
  EXPECT_EQ(Int(s, "guard"), 12);
  EXPECT_FALSE(Bool(s, "control_message"));
  ASSERT_EQ(s.at("loops").size(), 2u);
  for (const Json& loop : s.at("loops")) {
    EXPECT_EQ(Keys(loop),
              (std::vector<std::string>{"broken", "armed", "alarm", "loop_type", "linked", "silent_alarm"}));
    EXPECT_TRUE(Bool(loop, "broken") && Bool(loop, "armed") && Bool(loop, "alarm"));
    EXPECT_TRUE(Bool(loop, "linked") && Bool(loop, "silent_alarm"));
    EXPECT_EQ(Int(loop, "loop_type"), 0);
  }

  // A guard's control message under duress; only the first loop's type is "тревожный".
  const Json control = Parsed(Message("04 27 0A 21 13 38 00 00 00 A1"));
  const Json& c = control.at("loop_state");
  EXPECT_EQ(Int(c, "kind"), 2);
  EXPECT_EQ(Int(c, "guard"), 3);
  EXPECT_TRUE(Bool(c, "control_message"));
  EXPECT_TRUE(Bool(c, "duress"));
  const Json& one = c.at("loops")[0];
  const Json& two = c.at("loops")[1];
  EXPECT_EQ(Int(one, "loop_type"), 1);
  EXPECT_EQ(Int(two, "loop_type"), 0);
  EXPECT_FALSE(Bool(one, "armed"));
  EXPECT_TRUE(Bool(two, "armed"));
  EXPECT_TRUE(Bool(one, "linked") && Bool(two, "linked"));
  EXPECT_FALSE(Bool(one, "silent_alarm") || Bool(one, "broken") || Bool(one, "alarm"));
}

TEST(MessageJson, DiallerAndUnknownUnitsHaveABinaryAddressAndASubtype) {
  const Json open = Parsed(Message("00 2A 16 06 21 00 00 00 00 67"));
  EXPECT_EQ(Text(open, "kind"), "dialler");
  EXPECT_EQ(Text(open, "address_class"), "binary");
  EXPECT_EQ(Text(open, "address"), "42");
  EXPECT_EQ(Int(open, "address_number"), 42);
  EXPECT_EQ(Int(open, "subtype"), 6);
  EXPECT_EQ(Text(open, "device_name"), "Тамсир и.1");
  const Json& d = open.at("dialler");
  EXPECT_EQ(Keys(d), (std::vector<std::string>{"byte", "message", "set", "known"}));
  EXPECT_EQ(Int(d, "byte"), 0x21);
  EXPECT_EQ(Int(d, "message"), 2);
  EXPECT_TRUE(Bool(d, "set"));
  EXPECT_TRUE(Bool(d, "known"));
  const Json unknown = Parsed(Message("00 2A 16 06 45 00 00 00 00 8B"));
  EXPECT_FALSE(Bool(unknown.at("dialler"), "known"));

  // Nothing after the type line, so nothing of a kind of its own: the whole object.
  EXPECT_EQ(Written(Message("12 34 14 07 AB CD EF 01 02 C9")),
            "{\"kind\":\"unknown-unit\",\"sum_ok\":true,\"sum\":713,\"raw\":\"12 34 14 07 AB CD EF 01 02 C9\","
            "\"address_class\":\"binary\",\"address\":\"4660\",\"address_number\":4660,\"device_type\":20,"
            "\"device_name\":\"Неизвестный, тип:7\",\"subtype\":7,\"new_event\":false,"
            "\"lines\":[\" \",\"Сообщение : \",\"    [ 18  52  20  7  171  205  239  1  2  201  ]\","
            "\"    (Тело: ab cd ef 01)\",\"     Адрес объекта:      [4660]\","
            "\"     Тип прибора на объекте - [Неизвестный, тип:7]\"],\"stamped_line\":1}");
}

TEST(MessageJson, RadioHasOneRecordPerLine) {
  // Armed from a keypad for the partition mask FF of the upper bank: partitions 9..16.
  const Json j = Parsed(Message("12 34 11 01 00 C1 FF 38 02 50"));
  EXPECT_EQ(Text(j, "kind"), "radio");
  EXPECT_EQ(Int(j, "subtype"), 1);
  const Json& records = j.at("radio");
  ASSERT_EQ(records.size(), 8u);
  EXPECT_EQ(j.at("lines").size(), 6u + 8u);
  for (std::size_t i = 0; i < records.size(); ++i) {
    const Json& r = records[i];
    EXPECT_EQ(Keys(r), (std::vector<std::string>{"event_code", "new_event", "text", "expander", "device_kind",
                                                  "device_name", "source", "upper_bank", "detail"}));
    EXPECT_EQ(Int(r, "event_code"), 0);
    EXPECT_TRUE(Bool(r, "new_event"));
    EXPECT_EQ(Text(r, "text"), "Постановка под охрану");
    EXPECT_EQ(Int(r, "expander"), 3);
    EXPECT_EQ(Int(r, "device_kind"), 8);
    EXPECT_EQ(Text(r, "device_name"), "ДК-Р (Пульт управления)");
    EXPECT_EQ(Int(r, "source"), 1);
    EXPECT_TRUE(Bool(r, "upper_bank"));
    EXPECT_EQ(Int(r, "detail"), static_cast<std::int64_t>(9 + i));
  }
  // The radio lines hold tabs: escaped in the JSON, back as they were.
  EXPECT_NE(Written(Message("12 34 11 01 00 C1 FF 38 02 50")).find("РР:3\\t\\tРаздел:9\\t\\t"), std::string::npos);

  // A relay event from another expander has no lines and no records.
  const Json none = Parsed(Message("12 34 11 01 60 85 05 26 01 68"));
  EXPECT_TRUE(none.at("radio").empty());
}

TEST(MessageJson, AWrongSumIsDecodedNoFurtherThanItsTypeByte) {
  EXPECT_EQ(Written(Message("12 34 1F 01 13 00 01 00 00 7B")),
            "{\"kind\":\"bad-sum\",\"sum_ok\":false,\"sum\":122,\"raw\":\"12 34 1F 01 13 00 01 00 00 7B\","
            "\"address_class\":\"decimal\",\"device_type\":31,\"new_event\":false,\"lines\":[],"
            "\"stamped_line\":null}");
}

// A value decoded again in place writes what a fresh one writes: nothing of
// the bigger message before it is left over.
TEST(MessageJson, AReusedMessageWritesWhatAFreshOneWrites) {
  const std::vector<std::string> frames = {"12 34 11 01 00 C1 FF 38 02 50", "12 34 1F 01 13 00 01 00 00 7A",
                                           "04 27 0A 6F C3 C0 00 00 02 27", "12 34 1F 01 13 00 01 00 00 7B",
                                           "00 2A 16 06 21 00 00 00 00 67", "12 34 14 07 AB CD EF 01 02 C9"};
  DecodedMessage reused;
  std::string out;
  for (const std::string& hex : frames) {
    const std::vector<std::uint8_t> frame = Hex(hex);
    DecodeMessage(frame.data(), reused);
    out.clear();
    AppendMessageJson(out, reused);
    EXPECT_EQ(out, Written(Message(hex))) << hex;
  }
  // Appended, not replaced.
  out = "x";
  AppendMessageJson(out, reused);
  EXPECT_EQ(out, "x" + Written(reused));
}

}  // namespace
}  // namespace pelvaron
