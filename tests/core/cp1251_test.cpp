#include "core/cp1251.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/control_characters.h"
#include "core/fixed_text.h"

namespace pelvaron {
namespace {

TEST(Cp1251, EveryByteRoundTripsThroughUtf8) {
  for (int b = 0; b < 256; ++b) {
    std::string one(1, static_cast<char>(b));
    auto back = Utf8ToCp1251(Cp1251ToUtf8(one));
    ASSERT_TRUE(back.has_value()) << b;
    EXPECT_EQ(*back, one) << b;
  }
}

TEST(Cp1251, MapsTheCodePageLikeWindows) {
  struct Case {
    unsigned char byte;
    const char* utf8;
  } cases[] = {
      {0xC0, "А"}, {0xFF, "я"}, {0xA8, "Ё"},      {0xB8, "ё"}, {0xB9, "№"},      {0x88, "€"},
      {0x80, "Ђ"}, {0x96, "–"}, {0x97, "—"},      {0xAB, "«"}, {0xA0, "\u00A0"}, {0xB2, "І"},
      {0xA5, "Ґ"}, {0x99, "™"}, {0x98, "\u0098"},  // the undefined byte keeps its C1 twin
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Cp1251ToUtf8(std::string(1, static_cast<char>(c.byte))), c.utf8) << int(c.byte);
  }
  EXPECT_EQ(*Utf8ToCp1251("Норма"), "\xCD\xEE\xF0\xEC\xE0");
  // The Latin c and its Cyrillic look-alike stay apart.
  EXPECT_EQ(*Utf8ToCp1251("c"), "c");
  EXPECT_EQ(*Utf8ToCp1251("с"), "\xF1");
}

// The code page holds its 256 characters and no other, whichever table
// the lookup finds them in.
TEST(Cp1251, HoldsItsOwnCharactersAndNoOther) {
  std::set<std::string> own;
  for (int b = 0; b < 256; ++b) own.insert(Cp1251ToUtf8(std::string(1, static_cast<char>(b))));
  ASSERT_EQ(own.size(), 256u);
  for (char32_t cp = 0; cp <= 0x10FFFF; cp += cp < 0x10000 ? 1 : 0x1111) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    std::string utf8;
    AppendUtf8(utf8, cp);
    const bool held = own.count(utf8) == 1;
    ASSERT_EQ(FitsCp1251(utf8), held) << static_cast<unsigned>(cp);
    ASSERT_EQ(Utf8ToCp1251(utf8).has_value(), held) << static_cast<unsigned>(cp);
  }
  std::string appended = "x";
  AppendCp1251AsUtf8(appended, "\xC0\xB9\x88");
  EXPECT_EQ(appended, "xА№€");
}

TEST(Cp1251, RefusesWhatTheCodePageCannotHold) {
  EXPECT_FALSE(Utf8ToCp1251("日本").has_value());
  EXPECT_FALSE(Utf8ToCp1251("ä").has_value());
  EXPECT_FALSE(Utf8ToCp1251("\xC3").has_value());          // cut sequence
  EXPECT_FALSE(Utf8ToCp1251("\xC0\x80").has_value());      // overlong zero
  EXPECT_FALSE(Utf8ToCp1251("\xED\xA0\x80").has_value());  // surrogate
  EXPECT_EQ(Utf8ToCp1251Lossy("a日b"), "a?b");
  EXPECT_EQ(Utf8ToCp1251Lossy("x\xFFy"), "x?y");
  EXPECT_TRUE(FitsCp1251("Тип ШС1 «основной»"));
}

TEST(Cp1251, LossyConversionAgreesWithTheStrictOneAtEveryOffset) {
  // Every byte of the code page, after 0..9 ASCII characters, so that the
  // shortcuts for ASCII runs and Cyrillic letters meet every alignment.
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  for (int lead = 0; lead < 10; ++lead) {
    const std::string cp = std::string(static_cast<std::size_t>(lead), ' ') + all + "end";
    const std::string utf8 = Cp1251ToUtf8(cp);
    EXPECT_EQ(Utf8ToCp1251Lossy(utf8), cp) << lead;
    for (std::size_t cut = 0; cut <= utf8.size(); cut += 7) {
      const std::string_view part(utf8.data(), cut);
      const auto strict = Utf8ToCp1251(part);
      if (strict) {
        EXPECT_EQ(Utf8ToCp1251Lossy(part), *strict) << lead << " " << cut;
      }
    }
  }
  // Broken sequences among Cyrillic letters: each bad byte is one '?'.
  EXPECT_EQ(Utf8ToCp1251Lossy("Д\xD0" "A"), "\xC4?A");
  EXPECT_EQ(Utf8ToCp1251Lossy("\xD1\xC0я"), "??\xFF");
  EXPECT_EQ(Utf8ToCp1251Lossy("abcdefgh\xD0"), "abcdefgh?");
  std::string appended = "x";
  AppendUtf8AsCp1251Lossy(appended, "ёЁ");
  EXPECT_EQ(appended, "x\xB8\xA8");
}

// The lossy writer takes shortcuts (ASCII by words, the Cyrillic block by
// table): wherever the strict conversion succeeds it must give the same
// bytes, and '?' wherever it fails, at any place in a text. FitsCp1251
// answers without converting: it must agree with the strict conversion.
TEST(Cp1251, LossyAgreesWithTheStrictConversion) {
  std::vector<std::string> characters;
  for (int lead : {0xD0, 0xD1}) {
    for (int follow = 0x80; follow <= 0xBF; ++follow) characters.push_back({char(lead), char(follow)});
  }
  for (const char* other : {"a", "\xC2\xA0", "€", "№", "日", "\xFF", "\xD0", "\xD1" "A", "\xC0\x80"}) characters.push_back(other);
  for (const std::string fill : {"x", "Ж"}) {
    for (const std::string& c : characters) {
      for (std::size_t before : {0u, 1u, 3u, 4u, 7u, 8u, 9u, 16u}) {
        std::string lead;
        for (std::size_t i = 0; i < before; ++i) lead += fill;
        const std::string text = lead + c + "ЩЩЩЩz";
        const std::optional<std::string> strict = Utf8ToCp1251(text);
        const std::string lossy = Utf8ToCp1251Lossy(text);
        EXPECT_EQ(FitsCp1251(text), strict.has_value()) << text;
        if (strict) {
          EXPECT_EQ(lossy, *strict) << text;
        } else {
          EXPECT_EQ(lossy.substr(0, before), *Utf8ToCp1251(lead)) << text;
          EXPECT_NE(lossy.find('?', before), std::string::npos) << text;
          EXPECT_EQ(lossy.substr(lossy.size() - 5), "\xD9\xD9\xD9\xD9z") << text;
        }
      }
    }
  }
  std::string out = "kept ";
  AppendUtf8AsCp1251Lossy(out, "Адрес объекта:      [1234]");
  EXPECT_EQ(out, "kept " + *Utf8ToCp1251("Адрес объекта:      [1234]"));
}

TEST(Cp1251, CutsUtf8OnCharacterBoundaries) {
  EXPECT_EQ(Utf8Length("Норма  "), 7u);
  // Characters of every width at every offset, counted as the reader steps them.
  const std::string mixed = "ab Жё№\u0098€日\U0001F600 xyzЯЯЯЯЯЯЯЯ 0123456789";
  for (std::size_t from = 0; from < mixed.size(); ++from) {
    if ((static_cast<unsigned char>(mixed[from]) & 0xC0) == 0x80) continue;
    const std::string_view tail(mixed.data() + from, mixed.size() - from);
    std::size_t steps = 0;
    for (std::size_t pos = 0; pos < tail.size(); ++steps) {
      char32_t cp = 0;
      ASSERT_TRUE(NextUtf8CodePoint(tail, pos, cp));
    }
    EXPECT_EQ(Utf8Length(tail), steps) << from;
  }
  EXPECT_EQ(Utf8Prefix("Норма", 3), "Нор");
  EXPECT_EQ(Utf8Prefix("ab", 5), "ab");
  EXPECT_EQ(Utf8Prefix("", 0), "");
  EXPECT_EQ(Utf8PrefixView("Нормаx", 5), "Норма");
  EXPECT_EQ(Utf8PrefixView("Норма", 9), "Норма");  // ten bytes, five characters
}

TEST(Cp1251, ReadsUtf8ACharacterAtATimeAndWritesItBack) {
  // Every length of character, with the code point and the bytes it takes.
  for (char32_t cp : {U'a', U'\u0085', U'Я', U'№', U'\uFFFD', U'\U0001F600', U'\U0010FFFF'}) {
    std::string utf8 = "x";
    AppendUtf8(utf8, cp);
    std::size_t pos = 1;
    char32_t read = 0;
    EXPECT_TRUE(NextUtf8CodePoint(utf8, pos, read)) << static_cast<unsigned>(cp);
    EXPECT_EQ(read, cp);
    EXPECT_EQ(pos, utf8.size()) << static_cast<unsigned>(cp);
  }
  // What is no character, and how far the reader goes past it: one byte of
  // what is cut off or stray, the whole of a well-formed sequence.
  struct Case {
    const char* bytes;
    std::size_t skipped;
  } cases[] = {
      {"\x80", 1},             {"\xFF", 1},         {"\xD0", 1},          {"\xD0" "A", 1},
      {"\xE2\x84", 1},         {"\xC0\x80", 2},     {"\xE0\x80\xAF", 3}, {"\xED\xA0\x80", 3},
      {"\xF4\x90\x80\x80", 4}, {"\xF8\x88\x80\x80", 1},
  };
  for (const Case& c : cases) {
    std::size_t pos = 0;
    char32_t read = 0;
    EXPECT_FALSE(NextUtf8CodePoint(c.bytes, pos, read)) << c.bytes;
    EXPECT_EQ(pos, c.skipped) << c.bytes;
  }
}

TEST(FixedText, StopsAtTheZeroOrTheFieldsEnd) {
  char field[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(ReadFixedText(field), "abcd");
  WriteFixedText(field, "x");
  EXPECT_EQ(ReadFixedText(field), "x");
  EXPECT_EQ(field[2], 'c');  // bytes behind the zero are kept
  struct {
    char text[4];
    char next = 'N';
  } record{};
  WriteFixedText(record.text, "123456");
  EXPECT_EQ(ReadFixedText(record.text), "1234");
  EXPECT_EQ(record.next, 'N');
}

// Every control character is found and marked; nothing printable is, not the
// code page's upper half nor a no-break space. Bytes that are no UTF-8 stay.
TEST(ControlCharacters, AreFoundAndMarkedAndNothingElseIs) {
  const std::pair<std::string, std::string> cases[] = {
      {"выезд\r\n06:12", "выезд<CR><LF>06:12"},     {"\x1b[2J\a\t", "<ESC>[2J<BEL><TAB>"},
      {std::string("a\0b\x7f", 4), "a<NUL>b<DEL>"}, {"\xc2\x85и\xc2\x9f", "<U+0085>и<U+009F>"},
      {"Ђ™ № \xc2\xa0 ё", "Ђ™ № \xc2\xa0 ё"},       {"\xff\xc2", "\xff\xc2"},
  };
  for (const auto& [text, shown] : cases) {
    EXPECT_EQ(ShowControlCharacters(text), shown);
    EXPECT_EQ(FirstControlCharacter(text).has_value(), text != shown) << shown;
  }
}

}  // namespace
}  // namespace pelvaron
