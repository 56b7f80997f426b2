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
      {u"ab" + std::u16string(1, char16_t(0)) + u"c", std::string("ab\0c", 4)},
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
    // A string value's text ends at its first zero; an odd last byte is no unit.
    EXPECT_EQ(c.utf8.substr(0, c.utf8.find('\0')), utf8FromRegistryString(le + "\x41"));
  }
  for (const char* bad : {"\x80", "\xC0\xAF", "\xE4\xB8", "\xF5\x80\x80\x80", "\xF4\x90\x80\x80"})
    EXPECT_EQ(u'\uFFFD', utf16FromUtf8(bad)[0]) << bad;
}

// A console write is cut into pieces; none may end between the halves of a pair.
TEST(Text, Utf16PiecesEndBetweenCharacters) {
  const std::u16string pair = u"\U0001F600";
  const std::u16string lone(1, char16_t(0xD800));
  const struct { std::u16string units; size_t most, length; } cases[] = {
      {u"", 4, 0},
      {u"abc", 4, 3},
      {u"abcd", 4, 4},
      {u"abcde", 4, 4},
      {u"abc" + pair, 4, 3},       // the pair would be parted: it starts the next piece
      {u"abc" + pair, 5, 5},       // it fits whole
      {u"ab" + pair + u"c", 4, 4},  // it ends the piece
      {u"abc" + lone + u"d", 4, 4},  // a lone lead has nothing to part from
      {u"abc" + lone + lone, 4, 4},
      {pair + pair, 3, 2},
      {pair + pair, 2, 2},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.length, utf16PieceLength(c.units.data(), c.units.size(), c.most))
        << "row " << &c - cases;
  // Cutting a long text piece by piece gives it back whole.
  std::u16string text;
  for (int i = 0; i < 5000; ++i) text += i % 3 ? pair : u"\u4E2D";
  std::u16string joined;
  for (size_t at = 0; at < text.size();) {
    const size_t length = utf16PieceLength(text.data() + at, text.size() - at, 4096);
    ASSERT_GT(length, 0u);
    ASSERT_LE(length, 4096u);
    const char16_t last = text[at + length - 1];
    EXPECT_FALSE(last >= 0xD800 && last < 0xDC00) << "piece ends at " << at + length;
    joined += text.substr(at, length);
    at += length;
  }
  EXPECT_EQ(text, joined);
}

TEST(Text, ControlCharactersShowAsOneQuestionMarkEach) {
  EXPECT_EQ("a??b?c?", withControlsShown("a\r\nb\tc\x7f"));
  EXPECT_EQ(u8"\\计划 \u0080\u00A0", withControlsShown(u8"\\计划 \u0080\u00A0"));
  EXPECT_TRUE(hasControlCharacter(std::string("a\0b", 3)));
  EXPECT_FALSE(hasControlCharacter(u8"C:\\用户\\a b.exe"));
}

}  // namespace
