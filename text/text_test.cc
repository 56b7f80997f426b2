#include "text/text.h"

#include <string>

#include <gtest/gtest.h>

namespace {

// Every UTF-16 name the system can give comes back unchanged, paired or not;
// bytes that start no sequence stand for U+FFFD.
TEST(Text, Utf16RoundTripsEveryUnitAndUtf8StandsInForBadBytes) {
  const struct { std::u16string units; std::string utf8; } cases[] = {
      {u"a\u00E9\u4E2D", u8"a\u00E9\u4E2D"},
      {u"\U0001F600", u8"\U0001F600"},
      {std::u16string(1, char16_t(0xD800)) + u"b", "\xED\xA0\x80" "b"},
      {u"a" + std::u16string(1, char16_t(0xDFFF)), "a\xED\xBF\xBF"},
      {std::u16string{char16_t(0xDC00), char16_t(0xD800)}, "\xED\xB0\x80\xED\xA0\x80"},
      {std::u16string(1, char16_t(0)), std::string(1, '\0')},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.utf8, utf8FromUtf16(c.units.data(), c.units.size()));
    EXPECT_EQ(c.units, utf16FromUtf8(c.utf8));
    unsigned char out[64];
    std::string le;
    for (char16_t unit : c.units) le += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    EXPECT_EQ(le, utf16LeFromUtf8(c.utf8));
    const size_t length =
        utf8FromUtf16Le(reinterpret_cast<const unsigned char*>(le.data()), le.size(), out);
    EXPECT_EQ(c.utf8, std::string(reinterpret_cast<char*>(out), length));
  }
  for (const char* bad : {"\x80", "\xC0\xAF", "\xE4\xB8", "\xF5\x80\x80\x80", "\xF4\x90\x80\x80"})
    EXPECT_EQ(u'\uFFFD', utf16FromUtf8(bad)[0]) << bad;
}

TEST(Text, ControlCharactersShowAsOneQuestionMarkEach) {
  EXPECT_EQ("a??b?c?", withControlsShown("a\r\nb\tc\x7f"));
  EXPECT_EQ(u8"\\计划 \u0080\u00A0", withControlsShown(u8"\\计划 \u0080\u00A0"));
  EXPECT_TRUE(hasControlCharacter(std::string("a\0b", 3)));
  EXPECT_FALSE(hasControlCharacter(u8"C:\\用户\\a b.exe"));
}

}  // namespace
