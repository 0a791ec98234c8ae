#include "common/ConfigText.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

std::string Bytes(const char* data, size_t size) { return std::string(data, size); }
#define BYTES(literal) Bytes(literal, sizeof(literal) - 1)

struct TDecodeCase {
  const char* Name;
  std::string Input;
  std::string Expected;
};

TEST(DecodeConfigText, ByteOrderMarksNulsAndBrokenInput) {
  const TDecodeCase cases[] = {
      {"empty", "", ""},
      {"no mark", "[Ports]\r\nSMTPIn=25", "[Ports]\r\nSMTPIn=25"},
      {"UTF-8 mark removed", BYTES("\xEF\xBB\xBFPort=1"), "Port=1"},
      {"UTF-8 mark, non-ASCII kept", BYTES("\xEF\xBB\xBF\xC3\xA9"), "\xC3\xA9"},
      {"UTF-16LE", BYTES("\xFF\xFEP\0=\0""1\0"), "P=1"},
      {"UTF-16BE", BYTES("\xFE\xFF\0P\0=\0""1"), "P=1"},
      {"UTF-16LE non-ASCII", BYTES("\xFF\xFE\xE9\0"), "\xC3\xA9"},
      {"UTF-16LE surrogate pair", BYTES("\xFF\xFE\x3D\xD8\x00\xDE"), "\xF0\x9F\x98\x80"},
      {"UTF-16LE lone surrogate", BYTES("\xFF\xFE\x3D\xD8""a\0"), "\xEF\xBF\xBD""a"},
      {"UTF-16LE odd length", BYTES("\xFF\xFE""a\0b"), "a"},
      {"UTF-16BE odd length", BYTES("\xFE\xFF\0a\0"), "a"},
      {"only a mark", BYTES("\xFF\xFE"), ""},
      {"NUL ends plain text", BYTES("a=1\0b=2"), "a=1"},
      {"NUL ends UTF-8 text", BYTES("\xEF\xBB\xBF""a\0b"), "a"},
      {"NUL ends UTF-16 text", BYTES("\xFF\xFE""a\0\0\0b\0"), "a"},
      {"NUL straight after the mark", BYTES("\xFE\xFF\0\0\0b"), ""},
      {"invalid UTF-8 after mark", BYTES("\xEF\xBB\xBF\x80x"), "\xEF\xBF\xBDx"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeConfigText(c.Input), c.Expected) << c.Name;
}

Lines CursorLines(std::string_view Text) {
  Lines All;
  std::string_view Line;
  for (TLineCursor Cursor(Text); Cursor.Next(Line);) All.emplace_back(Line);
  return All;
}

TEST(ConfigLines, LineEndsAndDroppedLines) {
  const struct {
    std::string Text;
    Lines All, Kept;
  } cases[] = {
      {"", {}, {}},
      {"a", {"a"}, {"a"}},
      {"a\r\nb\r\n", {"a", "b"}, {"a", "b"}},
      {"a\nb\n", {"a", "b"}, {"a", "b"}},
      {"a\rb\r", {"a", "b"}, {"a", "b"}},
      {"a\rb\nc\r\nd", {"a", "b", "c", "d"}, {"a", "b", "c", "d"}},
      {"a\n\nb", {"a", "", "b"}, {"a", "b"}},
      {"a\r\n\r\n", {"a", ""}, {"a"}},
      {"\n", {""}, {}},
      {"\r\r\n", {"", ""}, {}},
      {"a\n\r", {"a", ""}, {"a"}},  // LF, then a lone CR: two breaks
      {"a\r\r\nb", {"a", "", "b"}, {"a", "b"}},
      {"   \n  # x\n;x\n\t#x\n  SMTPIn=25\nSMTPIn=25 ;x\n#\n[Ports]\n ;\nx#",
       {"   ", "  # x", ";x", "\t#x", "  SMTPIn=25", "SMTPIn=25 ;x", "#", "[Ports]", " ;", "x#"},
       {"\t#x", "  SMTPIn=25", "SMTPIn=25 ;x", "[Ports]", "x#"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CursorLines(c.Text), c.All) << c.Text;
    EXPECT_EQ(KeptConfigLines(c.Text), c.Kept) << c.Text;
  }
}

}  // namespace
