#include "cmdline/CommandLineParser.h"

#include <gtest/gtest.h>

namespace {

TEST(LeadingIntegerTest, AsIntegerConvertsTheValue) {
  TCommandLineArgument argument;
  EXPECT_EQ(argument.AsInteger(), 0);
  argument.Value = "0x10";
  EXPECT_EQ(argument.AsInteger(), 16);
  argument.Value = "7abc";
  EXPECT_EQ(argument.AsInteger(), 7);
}

using Args = std::vector<std::string>;

TEST(SplitCommandLineTest, SplitsLikeTheSystemShell) {
  const struct {
    std::string line;
    Args expected;
  } cases[] = {
      {"prog -w 5", {"prog", "-w", "5"}},
      {"  prog   -w    5  ", {"prog", "-w", "5"}},
      {"\"C:\\Program Files\\x.exe\" -w 5", {"C:\\Program Files\\x.exe", "-w", "5"}},
      // No escape character: a backslash before the closing quote stays.
      {"prog -p \"C:\\Program Files (x86)\\Orvane\\App\\\" -w 5",
       {"prog", "-p", "C:\\Program Files (x86)\\Orvane\\App\\", "-w", "5"}},
      {"prog a\\\"b c", {"prog", "a\\b c"}},
      {"prog \\\\server\\share\\", {"prog", "\\\\server\\share\\"}},
      // Quotes join stretches and are removed.
      {"prog \"a b\"c", {"prog", "a bc"}},
      {"prog a\"b c\"d", {"prog", "ab cd"}},
      {"prog a\"\"b", {"prog", "ab"}},
      {"prog \"-w=5\"", {"prog", "-w=5"}},
      // Empty arguments are dropped.
      {"prog -w \"\" 5", {"prog", "-w", "5"}},
      {"prog \"\"", {"prog"}},
      {"prog \"\"\"\"", {"prog"}},
      {"prog \"", {"prog"}},
      {"prog \"\" \"\" -h", {"prog", "-h"}},
      // An unterminated quote runs to the end.
      {"prog \"unterminated arg", {"prog", "unterminated arg"}},
      {"prog -p \"C:\\x y\\", {"prog", "-p", "C:\\x y\\"}},
      // Every character up to U+0020 separates, except inside quotes.
      {"prog\t-w\t5", {"prog", "-w", "5"}},
      {"prog\r\n-w\x01" "5\x1f", {"prog", "-w", "5"}},
      {std::string("prog\0-h", 7), {"prog", "-h"}},
      {"prog \"tab\tinside\"", {"prog", "tab\tinside"}},
      // Bytes of non-ASCII characters are ordinary characters.
      {"prog -p C:\\D\xC3\xA4ten\xC2\xA0x", {"prog", "-p", "C:\\D\xC3\xA4ten\xC2\xA0x"}},
      // The program name keeps the first place even when it is empty.
      {"", {""}},
      {"   ", {""}},
      {"\"\" -w 5", {"", "-w", "5"}},
      {"\"\"", {""}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SplitCommandLine(c.line), c.expected) << "line: [" << c.line << "]";
  }
}

// The options as the check plugin declares them, in a smaller set.
TCommandLineParser PluginParser() {
  TCommandLineParser parser;
  parser.AddArgument("h", "help", false, false);
  parser.AddArgument("V", "version", false, false);
  parser.AddArgument("v", "verbose", false, false);
  parser.AddArgument("p", "path", true, false);
  parser.AddArgument("w", "warn", true, true);
  parser.AddArgument("c", "crit", true, true);
  parser.AddArgument("wSMTPin", "warnSMTPin", true, false);
  return parser;
}

std::string Describe(const Args& args) {
  std::string line;
  for (const auto& a : args) line += "[" + a + "] ";
  return line;
}

TEST(CommandLineParserTest, ValueForms) {
  const struct {
    Args args;
    std::string option;
    int32_t count;
    std::string value;
  } cases[] = {
      {{"-w", "5"}, "warn", 1, "5"},
      {{"-w=5"}, "warn", 1, "5"},
      {{"--warn=5"}, "warn", 1, "5"},
      {{"--warn", "5"}, "warn", 1, "5"},
      {{"/w", "5"}, "warn", 1, "5"},
      {{"/w=5"}, "warn", 1, "5"},
      {{"/-warn=5"}, "warn", 1, "5"},
      {{"/-warn", "5"}, "warn", 1, "5"},
      // An empty value after "=" takes the next argument.
      {{"-w=", "5"}, "warn", 1, "5"},
      // Empty arguments are dropped before the parse.
      {{"-w", "", "5"}, "warn", 1, "5"},
      {{"", "-w", "5", ""}, "warn", 1, "5"},
      {{"--warn=5=6"}, "warn", 1, "5=6"},
      {{"-w=="}, "warn", 1, "="},
      // The next argument is a value whatever it looks like.
      {{"-w", "-5"}, "warn", 1, "-5"},
      {{"-w", "/x"}, "warn", 1, "/x"},
      {{"-c", "--warn"}, "crit", 1, "--warn"},
      {{"-c", "--warn"}, "warn", 0, ""},
      {{"-p", "C:\\Program Files (x86)\\Orvane\\App\\"}, "path", 1,
       "C:\\Program Files (x86)\\Orvane\\App\\"},
      {{"-p", "a b"}, "path", 1, "a b"},
      // The last occurrence wins and every occurrence counts.
      {{"-w", "5", "-w", "7"}, "warn", 2, "7"},
      {{"-w", "5", "--warn=7", "/w", "9"}, "warn", 3, "9"},
      {{"-v", "-v", "--verbose", "/v"}, "verbose", 4, ""},
      // "=" with nothing after it is no value.
      {{"--help="}, "help", 1, ""},
      {{"-h="}, "help", 1, ""},
      {{"-wSMTPin", "4"}, "warnSMTPin", 1, "4"},
      {{"--warnSMTPin=4"}, "warnSMTPin", 1, "4"},
      {{"-wSMTPin", "4"}, "warn", 0, ""},
      {{}, "warn", 0, ""},
  };
  for (const auto& c : cases) {
    TCommandLineParser p = PluginParser();
    const std::string line = Describe(c.args);
    ASSERT_TRUE(p.Parse(c.args)) << line << p.ErrorMessage;
    EXPECT_EQ(p.ErrorMessage, "") << line;
    const TCommandLineArgument* option = p.FindArgument("", c.option);
    ASSERT_NE(option, nullptr);
    EXPECT_EQ(option->Count, c.count) << line;
    EXPECT_EQ(option->Value, c.value) << line;
  }
}

// An option that may be given again keeps every value, in order, whatever
// form each occurrence takes.
TEST(CommandLineParserTest, RepeatedOptionKeepsEveryValue) {
  TCommandLineParser p = PluginParser();
  ASSERT_TRUE(p.Parse({"-w", "5", "--warn=", "7", "/w=", "-c", "-v", "", "-v"}))
      << p.ErrorMessage;
  EXPECT_EQ(p.FindArgument("", "warn")->Values, (std::vector<std::string>{"5", "7", "-c"}));
  EXPECT_EQ(p.FindArgument("", "warn")->Value, "-c");
  EXPECT_EQ(p.FindArgument("", "verbose")->Values, std::vector<std::string>{});
  EXPECT_EQ(p.FindArgument("", "crit")->Values, std::vector<std::string>{});
}

TEST(CommandLineParserTest, ErrorsStopTheParse) {
  const struct {
    Args args;
    std::string message;
  } cases[] = {
      {{"x"}, "Unknown parameter x"},
      {{"C:\\dir"}, "Unknown parameter C:\\dir"},
      {{"5", "-w", "5"}, "Unknown parameter 5"},
      {{"-w5"}, "Unknown parameter w5"},
      {{"-W", "5"}, "Unknown parameter W"},
      {{"-w 5"}, "Unknown parameter w 5"},
      {{"-"}, "Unknown parameter "},
      {{"--"}, "Unknown parameter "},
      {{"/"}, "Unknown parameter "},
      {{"/-"}, "Unknown parameter "},
      {{"-=5"}, "Unknown parameter "},
      {{"---x"}, "Unknown parameter -x"},
      {{"---warn=5"}, "Unknown parameter -warn"},
      // Short names are not long names and the other way round.
      {{"--w", "5"}, "Unknown parameter w"},
      {{"-warn", "5"}, "Unknown parameter warn"},
      {{"-x=1"}, "Unknown parameter x"},
      {{"--help=1"}, "Wrong value for parameter help"},
      {{"-h=="}, "Wrong value for parameter h"},
      {{"/-version=no"}, "Wrong value for parameter version"},
      {{"-w"}, "Param w needs a value"},
      {{"--warn"}, "Param warn needs a value"},
      {{"-w="}, "Param w needs a value"},
      {{"-w", ""}, "Param w needs a value"},
      {{"-c", "1", "/-warn="}, "Param warn needs a value"},
      // Only the first error is reported; the rest is not examined.
      {{"-x", "-y"}, "Unknown parameter x"},
      {{"-h", "-x"}, "Unknown parameter x"},
      {{"-w", "5", "-q", "-c"}, "Unknown parameter q"},
      {{"--help=1", "-c"}, "Wrong value for parameter help"},
  };
  for (const auto& c : cases) {
    TCommandLineParser p = PluginParser();
    const std::string line = Describe(c.args);
    EXPECT_FALSE(p.Parse(c.args)) << line;
    EXPECT_EQ(p.ErrorMessage, c.message) << line;
    // A failed parse does not go on to report missing options.
    EXPECT_FALSE(p.ParameterMissing) << line;
    EXPECT_EQ(p.MissingParameters, "") << line;
  }
}

TEST(CommandLineParserTest, LaterArgumentsAreNotRecordedAfterAnError) {
  TCommandLineParser parser = PluginParser();
  EXPECT_FALSE(parser.Parse({"-w", "5", "-q", "-c", "7", "-v"}));
  EXPECT_EQ(parser.FindArgument("w", "")->Count, 1);
  EXPECT_EQ(parser.FindArgument("c", "")->Count, 0);
  EXPECT_EQ(parser.FindArgument("v", "")->Count, 0);
}

TEST(CommandLineParserTest, MissingRequiredOptionsAreListedInDeclarationOrder) {
  const struct {
    Args args;
    std::string missing;
  } cases[] = {
      {{}, "\"w\" \"c\" "},
      {{"", ""}, "\"w\" \"c\" "},
      {{"-h"}, "\"w\" \"c\" "},
      {{"-w", "10"}, "\"c\" "},
      {{"-c", "10"}, "\"w\" "},
      {{"-c", "--warn"}, "\"w\" "},
      {{"-c", "1", "-w", "1"}, ""},
  };
  for (const auto& c : cases) {
    TCommandLineParser p = PluginParser();
    const std::string line = Describe(c.args);
    EXPECT_TRUE(p.Parse(c.args)) << line;
    EXPECT_EQ(p.ErrorMessage, "") << line;
    EXPECT_EQ(p.MissingParameters, c.missing) << line;
    EXPECT_EQ(p.ParameterMissing, !c.missing.empty()) << line;
  }
}

TEST(CommandLineParserTest, HasArgumentNeedsAnOccurrence) {
  TCommandLineParser parser = PluginParser();
  ASSERT_TRUE(parser.Parse({"-v", "-w", "1", "-c", "2"}));
  EXPECT_TRUE(parser.HasArgument("", "verbose"));
  EXPECT_TRUE(parser.HasArgument("v", ""));
  EXPECT_FALSE(parser.HasArgument("V", ""));
  EXPECT_FALSE(parser.HasArgument("", "help"));
  EXPECT_FALSE(parser.HasArgument("", "nonexistent"));
  EXPECT_FALSE(parser.HasArgument("", ""));
}

TEST(CommandLineParserFindTest, LastMatchWinsAndEmptyNamesNeverMatch) {
  TCommandLineParser parser;
  parser.AddArgument("w", "warn", true, false);
  parser.AddArgument("c", "crit", true, false);
  parser.AddArgument("", "", false, false);
  parser.AddArgument("w", "warn2", true, false);

  EXPECT_EQ(parser.FindArgument("", ""), nullptr);
  EXPECT_EQ(parser.FindArgument("x", "y"), nullptr);
  EXPECT_EQ(parser.FindArgument("W", "WARN"), nullptr);
  EXPECT_EQ(parser.FindArgument("w", ""), &parser.Arguments[3]);
  EXPECT_EQ(parser.FindArgument("", "warn"), &parser.Arguments[0]);
  // A match by either name counts; the last declared match is returned.
  EXPECT_EQ(parser.FindArgument("c", "warn"), &parser.Arguments[1]);
  EXPECT_EQ(parser.FindArgument("w", "crit"), &parser.Arguments[3]);

  const TCommandLineParser& constParser = parser;
  EXPECT_EQ(constParser.FindArgument("", "crit"), &parser.Arguments[1]);

  // The parse records on the last declared option of that name.
  ASSERT_TRUE(parser.Parse({"-w", "5"}));
  EXPECT_EQ(parser.Arguments[0].Count, 0);
  EXPECT_EQ(parser.Arguments[3].Count, 1);
  EXPECT_EQ(parser.Arguments[3].Value, "5");
}

TEST(CommandLineParserFindTest, AddArgumentRecordsTheFlags) {
  TCommandLineParser parser;
  parser.AddArgument("a", "alpha", true, true);
  parser.AddArgument("b", "beta", false, false);
  ASSERT_EQ(parser.Arguments.size(), 2u);
  EXPECT_EQ(parser.Arguments[0].ShortName, "a");
  EXPECT_EQ(parser.Arguments[0].LongName, "alpha");
  EXPECT_TRUE(parser.Arguments[0].NeedsValue);
  EXPECT_FALSE(parser.Arguments[0].Optional);
  EXPECT_FALSE(parser.Arguments[1].NeedsValue);
  EXPECT_TRUE(parser.Arguments[1].Optional);
  EXPECT_EQ(parser.Arguments[1].Count, 0);
  EXPECT_EQ(parser.Arguments[1].Value, "");
}

TEST(CommandLineParserFindTest, LongNameStartingWithDashIsReachable) {
  TCommandLineParser parser;
  parser.AddArgument("", "-x", false, false);
  ASSERT_TRUE(parser.Parse({"---x"}));
  EXPECT_TRUE(parser.HasArgument("", "-x"));
}

TEST(CommandLineParserFindTest, RequiredOptionWithoutShortNameIsListedEmpty) {
  TCommandLineParser parser;
  parser.AddArgument("", "only-long", true, true);
  ASSERT_TRUE(parser.Parse({}));
  EXPECT_TRUE(parser.ParameterMissing);
  EXPECT_EQ(parser.MissingParameters, "\"\" ");
}

TEST(CommandLineParserFindTest, SplitThenParseKeepsQuotedPath) {
  TCommandLineParser parser;
  parser.AddArgument("p", "path", true, false);
  Args args = SplitCommandLine("\"C:\\x\\check.exe\" -p \"C:\\Program Files (x86)\\Orvane\\App\\\"");
  args.erase(args.begin());
  ASSERT_TRUE(parser.Parse(args)) << parser.ErrorMessage;
  EXPECT_EQ(parser.FindArgument("", "path")->Value, "C:\\Program Files (x86)\\Orvane\\App\\");
}

}  // namespace
