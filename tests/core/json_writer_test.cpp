#include "core/json_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "support/strict_json.h"

namespace pelvaron {
namespace {

using testing::ParseJson;

std::string Quoted(std::string_view s) {
  std::string out;
  AppendJsonString(out, s);
  return out;
}

// The string read back by a strict reader.
std::string RoundTrip(std::string_view s) {
  const std::string json = Quoted(s);
  std::string error;
  const auto value = ParseJson(json, &error);
  EXPECT_TRUE(value && value->is_string()) << error << " in " << json;
  return value && value->is_string() ? value->get<std::string>() : std::string();
}

bool HasRawControl(std::string_view json) {
  for (char c : json) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  }
  return false;
}

TEST(JsonString, EscapesWhatJsonAndTerminalsCannotTakeRaw) {
  EXPECT_EQ(Quoted("Тип:'ЗЕТ'\t\tРаздел:1"), "\"Тип:'ЗЕТ'\\t\\tРаздел:1\"");
  EXPECT_EQ(Quoted("\"Contact-ID\" \\ /"), "\"\\\"Contact-ID\\\" \\\\ /\"");
  EXPECT_EQ(Quoted("\n\r\b\f"), "\"\\n\\r\\b\\f\"");
  EXPECT_EQ(Quoted(std::string("a\0b", 3)), "\"a\\u0000b\"");
  EXPECT_EQ(Quoted("\x1F\x7F"), "\"\\u001f\\u007f\"");
  // C1 controls (U+0098 is Windows-1251's undefined byte) are escaped; U+00A0 on is not.
  EXPECT_EQ(Quoted("\xC2\x85\xC2\x98\xC2\xA0"), "\"\\u0085\\u0098\xC2\xA0\"");
  EXPECT_EQ(Quoted("ё日€😀"), "\"ё日€😀\"");

  for (int c = 0; c < 0x20; ++c) {
    const std::string s(1, static_cast<char>(c));
    EXPECT_FALSE(HasRawControl(Quoted(s))) << c;
    EXPECT_EQ(RoundTrip(s), s) << c;
  }
}

TEST(JsonString, ReplacesEveryByteThatIsNotUtf8) {
  EXPECT_EQ(Quoted("a\xFF" "b"), "\"a\\ufffdb\"");
  EXPECT_EQ(Quoted("\xC0\x80"), "\"\\ufffd\\ufffd\"");          // overlong
  EXPECT_EQ(Quoted("\xED\xA0\x80"), "\"\\ufffd\\ufffd\\ufffd\"");  // a surrogate
  EXPECT_EQ(Quoted("\xF4\x90\x80\x80"), "\"\\ufffd\\ufffd\\ufffd\\ufffd\"");  // past U+10FFFF
  EXPECT_EQ(Quoted("\xE6\x97"), "\"\\ufffd\\ufffd\"");          // cut short at the end
  EXPECT_EQ(Quoted("\xD0" "A"), "\"\\ufffdA\"");                  // a lead byte without its follower
  EXPECT_EQ(RoundTrip("\xD0\xAF\xD0"), "Я\xEF\xBF\xBD");
}

// Plain text and Cyrillic letters are scanned eight bytes at a time: a byte
// to escape must be found at every position of a word and of the tail.
TEST(JsonString, FindsAnEscapeAtEveryPositionOfALongText) {
  const std::string specials[] = {"\"", "\\", std::string(1, '\0'), "\x1F", "\x7F", " ", "~", "\xC2\x85", "\xFF",
                                  "Ж", "\xD0"};
  for (const std::string fill : {"a", "Ж"}) {
    for (const std::string& special : specials) {
      for (std::size_t at = 0; at < 20; ++at) {
        std::string before;
        std::string after;
        for (std::size_t i = 0; i < at; ++i) before += fill;
        for (std::size_t i = at; i < 19; ++i) after += fill;
        const std::string s = before + special + after;
        const std::string json = Quoted(s);
        EXPECT_FALSE(HasRawControl(json)) << at;
        if (special == "\xC2\x85") {
          EXPECT_NE(json.find("\\u0085"), std::string::npos) << at << " " << fill;
        }
        const std::string back = RoundTrip(s);
        if (special == "\xFF" || special == "\xD0") {
          EXPECT_EQ(back, before + "\xEF\xBF\xBD" + after) << at << " " << fill;
        } else {
          EXPECT_EQ(back, s) << at << " " << fill;
        }
      }
    }
  }
}

// The reader every test of the JSON outputs relies on refuses what a writer
// could get wrong, a key written twice among it (nlohmann alone keeps the last).
TEST(StrictJson, RefusesWhatAWriterCouldGetWrong) {
  const struct {
    std::string text;
    bool valid;
  } cases[] = {
      {R"({"a":1,"a":2})", false},
      {R"({"a":{"b":1,"b":1}})", false},
      {R"({"a":{"b":1},"b":2,"c":[{"a":1},{"a":1}]})", true},     // one key in several objects
      {"\"a\x01\"", false},                                       // a raw control character
      {"\"\xFF\"", false},
      {"\"\xC0\x80\"", false},                                    // overlong
      {"\"\xED\xA0\x80\"", false},                                // a surrogate in UTF-8
      {R"("\ud800")", false},                                     // a lone surrogate escaped
      {R"("\x41")", false},
      {R"({} {})", false},
      {R"("\u0000\ud83d\ude00")", true},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(ParseJson(c.text, &error).has_value(), c.valid) << c.text << " " << error;
  }
}

TEST(JsonWriter, PutsCommasAndColonsBetweenWhatIsWritten) {
  std::string out = "prefix ";
  JsonWriter json(out);
  json.BeginObject();
  json.Key("a").Int(1);
  json.Key("b").BeginArray().Bool(true).Bool(false).Null().BeginObject().Key("c").String("d").EndObject();
  json.BeginArray().EndArray().EndArray();
  json.Key("e").BeginObject().EndObject();
  json.Key("min").Int(INT64_MIN).Key("max").Int(INT64_MAX);
  json.Key("none").IntOrNull(-1, -1).Key("zero").IntOrNull(0, -1);
  json.Key("raw").Raw("[1,2]");
  json.Key("built").StringWith([](std::string& s) { s += "x\t\"y\" Я"; });
  json.Key("plain").StringWith([](std::string& s) { s += "Охранная тревога"; });
  json.Key("empty").StringWith([](std::string&) {});
  json.EndObject();
  EXPECT_EQ(out,
            "prefix {\"a\":1,\"b\":[true,false,null,{\"c\":\"d\"},[]],\"e\":{},"
            "\"min\":-9223372036854775808,\"max\":9223372036854775807,\"none\":null,\"zero\":0,"
            "\"raw\":[1,2],\"built\":\"x\\t\\\"y\\\" Я\",\"plain\":\"Охранная тревога\",\"empty\":\"\"}");
  EXPECT_TRUE(ParseJson(std::string_view(out).substr(7)));
}

}  // namespace
}  // namespace pelvaron
