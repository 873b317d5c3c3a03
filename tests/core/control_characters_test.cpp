#include "core/control_characters.h"

#include <gtest/gtest.h>

#include <string>

namespace pelvaron {
namespace {

// Every control character is found and marked; nothing printable is, not the
// Cyrillic letters of the code page's upper half nor a no-break space.
TEST(ControlCharacters, AreFoundAndMarkedAndNothingElseIs) {
  const struct {
    std::string text;
    char32_t first;  // 0xFFFFFFFF: none
    std::string shown;
  } cases[] = {
      {"выезд\r\n06:12:2026", U'\r', "выезд<CR><LF>06:12:2026"},
      {"\x1b[2J\a", 0x1B, "<ESC>[2J<BEL>"},
      {"a\tb", U'\t', "a<TAB>b"},
      {std::string("a\0b", 3), 0, "a<NUL>b"},
      {"\x7f", 0x7F, "<DEL>"},
      {"конец\xc2\x85строки\xc2\x9f", 0x85, "конец<U+0085>строки<U+009F>"},
      {"Ђ™ № \xc2\xa0 ё", 0xFFFFFFFF, "Ђ™ № \xc2\xa0 ё"},
      {"\xc2", 0xFFFFFFFF, "\xc2"},     // cut off: no character, kept as it is
      {"\xff\x0a", U'\n', "\xff<LF>"},  // a stray byte before a line end
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shown);
    const auto found = FirstControlCharacter(c.text);
    if (c.first == 0xFFFFFFFF) {
      EXPECT_FALSE(found);
    } else {
      ASSERT_TRUE(found);
      EXPECT_EQ(*found, c.first);
    }
    EXPECT_EQ(ShowControlCharacters(c.text), c.shown);
  }
  EXPECT_EQ(ControlCharacterRefusal("Примечание", U'\n')
                .rfind("Примечание содержит управляющий символ <LF> (перевод строки)", 0),
            0u);
}

}  // namespace
}  // namespace pelvaron
