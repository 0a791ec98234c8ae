#include "common/TextCodec.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

namespace {

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
    out += ' ';
  }
  return out;
}

std::string Hex(const std::u16string& units) {
  std::string out;
  char buffer[8];
  for (char16_t u : units) {
    snprintf(buffer, sizeof buffer, "%04X ", static_cast<unsigned>(u));
    out += buffer;
  }
  return out;
}

// Valid text in both encodings, including the boundaries of every UTF-8
// sequence length and of the surrogate range.
TEST(TextCodecTest, ValidTextRoundTrips) {
  const struct {
    std::string utf8;
    std::u16string utf16;
  } cases[] = {
      {"", u""},
      {"Orvane.exe", u"Orvane.exe"},
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      {"\x7F", u"\x007F"},
      {"\xC2\x80", u"\x0080"},
      {"\xC3\xA9", u"\x00E9"},
      {"\xDF\xBF", u"\x07FF"},
      {"\xE0\xA0\x80", u"\x0800"},
      {"\xE2\x82\xAC", u"\x20AC"},
      {"\xED\x9F\xBF", u"\xD7FF"},
      {"\xEE\x80\x80", u"\xE000"},
      {"\xEF\xBF\xBD", u"\xFFFD"},
      {"\xEF\xBF\xBF", u"\xFFFF"},
      {"\xF0\x90\x80\x80", u"\xD800\xDC00"},
      {"\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
      {"\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},
      {"C:\\Program Files\\\xC3\x96rvane\\", u"C:\\Program Files\\\x00D6rvane\\"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Hex(Utf8ToUtf16(c.utf8)), Hex(c.utf16)) << Hex(c.utf8);
    EXPECT_EQ(Hex(Utf16ToUtf8(c.utf16)), Hex(c.utf8)) << Hex(c.utf16);
    EXPECT_EQ(SanitizeUtf8(c.utf8), c.utf8) << Hex(c.utf8);
  }
}

TEST(TextCodecTest, UnpairedSurrogatesBecomeReplacementCharacters) {
  const std::string R = "\xEF\xBF\xBD";
  const struct {
    std::u16string utf16;
    std::string utf8;
  } cases[] = {
      {u"\xD800", R},
      {u"\xDC00", R},
      {u"a\xD83D" u"b", "a" + R + "b"},
      {u"\xDE00\xD83D", R + R},
      {u"\xD83D\xD83D\xDE00", R + "\xF0\x9F\x98\x80"},
      {u"\xD83D\xDE00\xDE00", "\xF0\x9F\x98\x80" + R},
      {u"x\xDBFF", "x" + R},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Hex(Utf16ToUtf8(c.utf16)), Hex(c.utf8)) << Hex(c.utf16);
  }
}

// Each broken sequence gives one U+FFFD for its longest valid-looking start,
// and decoding goes on at the byte that broke it.
TEST(TextCodecTest, InvalidUtf8BecomesReplacementCharacters) {
  const std::string R = "\xEF\xBF\xBD";
  const struct {
    const char* name;
    std::string bytes;
    std::string sanitized;
  } cases[] = {
      {"stray continuation", "a\x80" "b", "a" + R + "b"},
      {"continuations only", "\x80\xBF", R + R},
      {"invalid lead bytes", "\xC0\xC1\xF5\xFF", R + R + R + R},
      {"overlong 2-byte", "\xC0\x80", R + R},
      {"overlong slash", "\xC0\xAF", R + R},
      {"overlong 3-byte", "\xE0\x80\x80", R + R + R},
      {"overlong 3-byte max", "\xE0\x9F\xBF", R + R + R},
      {"overlong 4-byte", "\xF0\x80\x80\x80", R + R + R + R},
      {"overlong 4-byte max", "\xF0\x8F\xBF\xBF", R + R + R + R},
      {"high surrogate", "\xED\xA0\x80", R + R + R},
      {"low surrogate", "\xED\xBF\xBF", R + R + R},
      {"surrogate pair in 6 bytes", "\xED\xA0\xBD\xED\xB8\x80", R + R + R + R + R + R},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", R + R + R + R},
      {"F5 lead", "\xF5\x80\x80\x80", R + R + R + R},
      {"truncated 2-byte at end", "a\xC3", "a" + R},
      {"truncated 3-byte at end", "\xE2\x82", R},
      {"truncated 4-byte at end", "\xF0\x9F\x98", R},
      {"truncated 3-byte before ASCII", "\xE2\x82" "A", R + "A"},
      {"truncated 4-byte before ASCII", "\xF0\x9F\x98x", R + "x"},
      {"truncated before another lead", "\xE2\xC3\xA9", R + "\xC3\xA9"},
      {"truncated before NUL", std::string("\xC3\0", 2), R + std::string("\0", 1)},
      {"valid around broken", "\xC3\xA9\xFF\xE2\x82\xAC", "\xC3\xA9" + R + "\xE2\x82\xAC"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Hex(SanitizeUtf8(c.bytes)), Hex(c.sanitized)) << c.name;
    EXPECT_EQ(Hex(Utf8ToUtf16(c.bytes)), Hex(Utf8ToUtf16(c.sanitized))) << c.name;
  }
}

// Arbitrary bytes: the result is always valid UTF-8, sanitising twice
// changes nothing, and both decoding paths agree.
TEST(TextCodecTest, ArbitraryBytesGiveConsistentValidText) {
  std::mt19937 random(12345);
  // Bytes from the interesting corners: ASCII, continuations, every lead.
  const unsigned char pool[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF,
                                0xC0, 0xC2, 0xDF, 0xE0, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
  for (int round = 0; round < 5000; ++round) {
    std::string bytes(random() % 12, '\0');
    for (char& b : bytes)
      b = static_cast<char>(round % 2 ? pool[random() % sizeof pool] : random() % 256);
    const std::string clean = SanitizeUtf8(bytes);
    ASSERT_EQ(SanitizeUtf8(clean), clean) << Hex(bytes);
    ASSERT_EQ(Utf16ToUtf8(Utf8ToUtf16(bytes)), clean) << Hex(bytes);
    ASSERT_EQ(Utf8ToUtf16(clean), Utf8ToUtf16(bytes)) << Hex(bytes);
  }
}

TEST(TextCodecTest, Utf16FromBytesReadsEitherByteOrder) {
  const char bytes[] = {'\x4F', '\x00', '\xAC', '\x20', '\x3D', '\xD8', '\xFF', '\xFE', '\x7A'};
  EXPECT_EQ(Hex(Utf16FromBytes(bytes, 8, false)), Hex(std::u16string(u"\x004F\x20AC\xD83D\xFEFF")));
  EXPECT_EQ(Hex(Utf16FromBytes(bytes, 8, true)), Hex(std::u16string(u"\x4F00\xAC20\x3DD8\xFFFE")));
  // An odd last byte is ignored.
  EXPECT_EQ(Hex(Utf16FromBytes(bytes, 9, false)), Hex(Utf16FromBytes(bytes, 8, false)));
  EXPECT_EQ(Hex(Utf16FromBytes(bytes, 3, true)), Hex(std::u16string(u"\x4F00")));
  EXPECT_TRUE(Utf16FromBytes(bytes, 1, false).empty());
  EXPECT_TRUE(Utf16FromBytes(bytes, 0, true).empty());
  EXPECT_TRUE(Utf16FromBytes(nullptr, 0, false).empty());
}

TEST(TextCodecTest, AsciiCaseMappingLeavesOtherBytesAlone) {
  EXPECT_EQ(AsciiUpper("Orvane.exe az AZ 09 @[`{"), "ORVANE.EXE AZ AZ 09 @[`{");
  EXPECT_EQ(AsciiLower("Orvane.EXE az AZ 09 @[`{"), "orvane.exe az az 09 @[`{");
  EXPECT_EQ(AsciiUpper("\xC3\xA9\xC3\x89"), "\xC3\xA9\xC3\x89");
  EXPECT_EQ(AsciiLower("\xC3\xA9\xC3\x89"), "\xC3\xA9\xC3\x89");

  const struct {
    std::string a, b;
    bool equal;
  } cases[] = {
      {"", "", true},
      {"Orvane.exe", "ORVANE.EXE", true},
      {"lumicourt.EXE", "LumiCourt.exe", true},
      {"Orvane.exe", "Orvane.ex", false},
      {"Orvane.exe", "Orvane.exe ", false},
      // Neighbours of the letters differ by the same bit as the case does.
      {"[", "{", false},
      {"@", "`", false},
      {"]", "}", false},
      {"\xC3\xA9", "\xC3\x89", false},
      {std::string("a\0", 2), std::string("A\0", 2), true},
      {std::string("a\0", 2), "a", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EqualsIgnoringAsciiCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
    EXPECT_EQ(EqualsIgnoringAsciiCase(c.b, c.a), c.equal) << c.b << " / " << c.a;
  }
}

}  // namespace
