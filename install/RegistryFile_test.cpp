#include "install/RegistryFile.h"

#include <gtest/gtest.h>

#include <random>

#include "common/TextCodec.h"
#include "testing/Utf16File.h"

namespace {

const char* const kKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix Technologies\\Orvane";

std::vector<uint8_t> Utf16Z(const std::string& text) {
  std::vector<uint8_t> data;
  for (char16_t unit : Utf8ToUtf16(text)) {
    data.push_back(static_cast<uint8_t>(unit & 0xFF));
    data.push_back(static_cast<uint8_t>(unit >> 8));
  }
  data.push_back(0);
  data.push_back(0);
  return data;
}

// The text ReadString would give, or the query's outcome when not found.
std::string Text(const TRegistryFile& file, const std::string& key, const std::string& name) {
  TRegistryValue value;
  switch (file.Find(key, name, value)) {
    case TRegistryQuery::KeyMissing: return "<no key>";
    case TRegistryQuery::ValueMissing: return "<no value>";
    default: return RegistryValueText(TRegistryQuery::Found, value, name);
  }
}

TEST(RegistryFile, ExportOfTheRegistryEditor) {
  const TRegistryFile file = TRegistryFile::Parse(Utf16File(
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix Technologies]\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix Technologies\\Orvane]\r\n"
      "\"AppPath\"=\"C:\\\\Program Files\\\\Orvane\\\\App\\\\\"\r\n"
      "\"Quoted\"=\"say \\\"hi\\\"\"\r\n"
      "\"Caf\xC3\xA9\"=\"\xE2\x82\xAC\"\r\n"
      "\"Count\"=dword:0000001f\r\n"
      "@=\"default\"\r\n"
      "\r\n"));
  TRegistryValue value;
  ASSERT_EQ(file.Find(kKey, "AppPath", value), TRegistryQuery::Found);
  EXPECT_EQ(value.Type, RegistryTypeSz);
  EXPECT_EQ(value.Data, Utf16Z("C:\\Program Files\\Orvane\\App\\"));
  EXPECT_EQ(Text(file, kKey, "Quoted"), "say \"hi\"");
  EXPECT_EQ(Text(file, kKey, "Caf\xC3\xA9"), "\xE2\x82\xAC");
  EXPECT_EQ(Text(file, kKey, ""), "default");
  ASSERT_EQ(file.Find(kKey, "Count", value), TRegistryQuery::Found);
  EXPECT_EQ(value.Type, RegistryTypeDword);
  EXPECT_EQ(value.Data, (std::vector<uint8_t>{0x1f, 0, 0, 0}));
  EXPECT_EQ(Text(file, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix Technologies", "AppPath"), "<no value>");
  EXPECT_EQ(Text(file, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Other", "AppPath"), "<no key>");
  EXPECT_EQ(Text(file, kKey, "Missing"), "<no value>");
}

TEST(RegistryFile, PlainTextFilesAsTypedByHand) {
  const std::string plain =
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix Technologies\\Orvane]\n"
      "\"AppPath\"=\"/srv/orvane/App/\"\n";
  EXPECT_EQ(Text(TRegistryFile::Parse(plain), kKey, "AppPath"), "/srv/orvane/App/");
  EXPECT_EQ(Text(TRegistryFile::Parse("\xEF\xBB\xBF" + plain), kKey, "AppPath"), "/srv/orvane/App/");
  // Blanks around the parts, a short root name, doubled separators, and no header.
  const TRegistryFile typed = TRegistryFile::Parse(
      "  [HKLM\\\\SOFTWARE\\Kestrix Technologies\\Orvane\\]  \r"
      "\t\"AppPath\" = \"D:\\\\Mail\\\\\"\t\r");
  EXPECT_EQ(Text(typed, kKey, "AppPath"), "D:\\Mail\\");
}

TEST(RegistryFile, KeyAndValueNamesIgnoreCase) {
  const TRegistryFile file = TRegistryFile::Parse(
      "[hkey_local_machine\\software\\KESTRIX technologies\\orvane]\n\"APPPATH\"=\"x\"\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix Technologies\\ORVANE]\n\"Other\"=\"y\"\n");
  EXPECT_EQ(Text(file, kKey, "AppPath"), "x");
  EXPECT_EQ(Text(file, kKey, "other"), "y");  // the two key lines are one key
}

TEST(RegistryFile, HexDataOfEveryType) {
  const TRegistryFile file = TRegistryFile::Parse(Utf16File(
      "Windows Registry Editor Version 5.00\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix Technologies\\Orvane]\r\n"
      "\"Expand\"=hex(2):25,00,50,00,72,00,6f,00,67,00,72,00,61,00,6d,00,46,00,69,00,\\\r\n"
      "  6c,00,65,00,73,00,25,00,5c,00,00,00\r\n"
      "\"Sz\"=hex(1):41,00,00,00\r\n"
      "\"Binary\"=hex:01,AB,ff\r\n"
      "\"Empty\"=hex:\r\n"
      "\"Qword\"=hex(b):01,00,00,00,00,00,00,00\r\n"
      "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
      "\"Max\"=dword:FFFFFFFF\r\n"));
  EXPECT_EQ(Text(file, kKey, "Expand"), "%ProgramFiles%\\");
  EXPECT_EQ(Text(file, kKey, "Sz"), "A");
  TRegistryValue value;
  const struct {
    const char* Name;
    uint32_t Type;
    std::vector<uint8_t> Data;
  } cases[] = {
      {"Sz", RegistryTypeSz, {0x41, 0, 0, 0}},
      {"Binary", RegistryTypeBinary, {0x01, 0xAB, 0xFF}},
      {"Empty", RegistryTypeBinary, {}},
      {"Qword", 11, {1, 0, 0, 0, 0, 0, 0, 0}},
      {"Multi", 7, {0x61, 0, 0, 0, 0x62, 0, 0, 0, 0, 0}},
      {"Max", RegistryTypeDword, {0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(file.Find(kKey, c.Name, value), TRegistryQuery::Found) << c.Name;
    EXPECT_EQ(value.Type, c.Type) << c.Name;
    EXPECT_EQ(value.Data, c.Data) << c.Name;
  }
  EXPECT_THROW(Text(file, kKey, "Qword"), std::runtime_error);
  EXPECT_EQ(Text(file, kKey, "Empty"), "");  // empty data is empty text
}

TEST(RegistryFile, DeletionsRemoveValuesAndWholeKeys) {
  const TRegistryFile file = TRegistryFile::Parse(
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\K]\n\"A\"=\"1\"\n\"B\"=\"2\"\n\"A\"=-\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\K\\Sub]\n\"C\"=\"3\"\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\K2]\n\"D\"=\"4\"\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone]\n\"E\"=\"5\"\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone\\Deeper]\n\"F\"=\"6\"\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone]\n"
      "\"G\"=\"7\"\n");  // after a deletion no key takes values
  EXPECT_EQ(Text(file, "HKEY_LOCAL_MACHINE\\SOFTWARE\\K", "A"), "<no value>");
  EXPECT_EQ(Text(file, "HKEY_LOCAL_MACHINE\\SOFTWARE\\K", "B"), "2");
  EXPECT_EQ(Text(file, "HKEY_LOCAL_MACHINE\\SOFTWARE\\K\\Sub", "C"), "3");
  EXPECT_EQ(Text(file, "HKEY_LOCAL_MACHINE\\SOFTWARE\\K2", "D"), "4");
  EXPECT_EQ(Text(file, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone", "E"), "<no key>");
  EXPECT_EQ(Text(file, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone\\Deeper", "F"), "<no key>");
  EXPECT_EQ(Text(file, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone", "G"), "<no key>");
}

// Each broken line is skipped; the lines around it still count.
TEST(RegistryFile, BrokenLinesAreSkipped) {
  const char* const broken[] = {
      "\"AppPath\"=\"unterminated",
      "\"AppPath\"=\"text\" trailing",
      "\"AppPath\"=\"ends with a backslash\\\"",
      "\"AppPath\"=dword:xyz",
      "\"AppPath\"=dword:123456789",
      "\"AppPath\"=dword:",
      "\"AppPath\"=hex:1,zz",
      "\"AppPath\"=hex:123",
      "\"AppPath\"=hex(zz):00",
      "\"AppPath\"=hex(2:00",
      "\"AppPath\"=qword:1",
      "\"AppPath\"=",
      "\"AppPath\"",
      "\"AppPath",
      "AppPath=\"x\"",
      "=\"x\"",
      "@",
      "\"",
      "\\",
      "\xFF\xFE\xFD",
      "]",
  };
  for (const char* line : broken) {
    const TRegistryFile file = TRegistryFile::Parse(
        std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix Technologies\\Orvane]\n\"Before\"=\"1\"\n") +
        line + "\n\"After\"=\"2\"\n");
    EXPECT_EQ(Text(file, kKey, "AppPath"), "<no value>") << line;
    EXPECT_EQ(Text(file, kKey, "Before"), "1") << line;
    EXPECT_EQ(Text(file, kKey, "After"), "2") << line;
  }
}

TEST(RegistryFile, ValuesBelongToNoKeyAfterABrokenKeyLine) {
  for (const char* brokenKey : {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other", "[]", "[-]", "[\\]"}) {
    const TRegistryFile file = TRegistryFile::Parse(
        std::string("\"Loose\"=\"0\"\n"
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix Technologies\\Orvane]\n\"A\"=\"1\"\n") +
        brokenKey + "\n\"AppPath\"=\"wrong\"\n");
    EXPECT_EQ(Text(file, kKey, "A"), "1") << brokenKey;
    EXPECT_EQ(Text(file, kKey, "AppPath"), "<no value>") << brokenKey;
    EXPECT_EQ(Text(file, kKey, "Loose"), "<no value>") << brokenKey;
  }
}

TEST(RegistryFile, ContinuationDoesNotSwallowTheNextKeyOrValue) {
  const TRegistryFile file = TRegistryFile::Parse(
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\K]\n"
      "\"Bin\"=hex:01,02,\\\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix Technologies\\Orvane]\n"
      "\"Last\"=hex:03,\\\n"
      "\"AppPath\"=\"x\"\n"
      "\"End\"=hex:04,\\\n");
  TRegistryValue value;
  ASSERT_EQ(file.Find("HKEY_LOCAL_MACHINE\\SOFTWARE\\K", "Bin", value), TRegistryQuery::Found);
  EXPECT_EQ(value.Data, (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(Text(file, kKey, "AppPath"), "x");
  ASSERT_EQ(file.Find(kKey, "End", value), TRegistryQuery::Found);
  EXPECT_EQ(value.Data, std::vector<uint8_t>{4});
}

TEST(RegistryFile, DamagedUnicodeKeepsWhatStandsBeforeTheDamage) {
  const std::string good = Utf16File(
      "Windows Registry Editor Version 5.00\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix Technologies\\Orvane]\r\n"
      "\"AppPath\"=\"C:\\\\App\\\\\"\r\n");
  EXPECT_EQ(Text(TRegistryFile::Parse(good + "\x41"), kKey, "AppPath"), "C:\\App\\");  // odd length
  EXPECT_EQ(Text(TRegistryFile::Parse(good + std::string("\0\0", 2) + Utf16File("x").substr(2)), kKey,
                 "AppPath"),
            "C:\\App\\");
  EXPECT_EQ(Text(TRegistryFile::Parse(good.substr(0, good.size() - 9)), kKey, "AppPath"), "<no value>");
}

TEST(RegistryFile, TheProgramsViewPrefersTheWow6432NodeKey) {
  const std::string direct =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix Technologies\\Orvane]\n\"AppPath\"=\"direct\"\n";
  const std::string redirected =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Kestrix Technologies\\Orvane]\n"
      "\"AppPath\"=\"wow\"\n";
  const struct {
    const char* What;
    std::string File;
    bool LocalMachine;
    const char* Key;
    std::string Expected;
  } cases[] = {
      {"only the direct key", direct, true, "SOFTWARE\\Kestrix Technologies\\Orvane", "direct"},
      {"only the redirected key", redirected, true, "SOFTWARE\\Kestrix Technologies\\Orvane", "wow"},
      {"both", direct + redirected, true, "SOFTWARE\\Kestrix Technologies\\Orvane", "wow"},
      {"both, other order", redirected + direct, true, "software\\kestrix technologies\\orvane", "wow"},
      {"asked for the redirected key", direct + redirected, true,
       "SOFTWARE\\Wow6432Node\\Kestrix Technologies\\Orvane", "wow"},
      {"no redirection for the current user", redirected, false,
       "SOFTWARE\\Kestrix Technologies\\Orvane", "<missing>"},
      {"current user", "[HKEY_CURRENT_USER\\Software\\X]\n\"AppPath\"=\"user\"\n", false,
       "Software\\X", "user"},
      {"local machine is not the current user",
       "[HKEY_CURRENT_USER\\Software\\X]\n\"AppPath\"=\"user\"\n", true, "Software\\X", "<missing>"},
      {"the redirected key decides even without the value",
       direct + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Kestrix Technologies\\Orvane]\n", true,
       "SOFTWARE\\Kestrix Technologies\\Orvane", "<missing>"},
      {"a deleted parent takes the key along",
       direct + "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix Technologies]\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Y]\n",
       true, "SOFTWARE\\Kestrix Technologies\\Orvane", "<missing>"},
  };
  for (const auto& c : cases) {
    // Parsed whole, or keeping only what the query looks at: the same answer.
    for (bool whole : {true, false}) {
      const TRegistryFile file = whole ? TRegistryFile::Parse(c.File)
                                       : TRegistryFile::ParseForQuery(c.File, c.LocalMachine, c.Key);
      TRegistryValue value;
      const TRegistryQuery result = file.Query(c.LocalMachine, c.Key, "AppPath", value);
      EXPECT_EQ(result == TRegistryQuery::Found ? RegistryValueText(result, value, "AppPath") : "<missing>",
                c.Expected)
          << c.What << (whole ? "" : ", only the queried keys");
    }
  }
}

// Fragments of registry syntax thrown together at random: whatever comes of
// them, parsing ends and finding works.
TEST(RegistryFile, RandomFragmentsNeverBreakTheParser) {
  const std::string fragments[] = {
      "[", "]", "[-", "HKEY_LOCAL_MACHINE", "\\", "\\\\", "\"", "\\\"", "=", "@", "-",
      "hex", "hex(", "):", "hex:", "dword:", "0", "ff", ",", " ", "\t", "\r", "\n",
      "\r\n", ";", "\xFF", "\xFE", "\xEF\xBB\xBF", std::string(1, '\0'), "AppPath",
  };
  std::mt19937 random(12345);
  std::uniform_int_distribution<size_t> pick(0, sizeof fragments / sizeof fragments[0] - 1);
  std::uniform_int_distribution<int> length(0, 60);
  for (int round = 0; round < 3000; ++round) {
    std::string bytes;
    for (int i = length(random); i > 0; --i) bytes += fragments[pick(random)];
    if (round % 2 == 1) bytes = "[HKEY_LOCAL_MACHINE\\K]\n" + bytes;
    TRegistryValue value;
    const TRegistryFile file = TRegistryFile::Parse(round % 3 == 0 ? Utf16File(bytes) : bytes);
    const TRegistryQuery result = file.Find("HKEY_LOCAL_MACHINE\\K", "AppPath", value);
    EXPECT_NE(result, TRegistryQuery::ReadFailed);
  }
}

TEST(RegistryFile, LongLinesAndManyKeys) {
  std::string text = "REGEDIT4\n";
  for (int i = 0; i < 20000; ++i)
    text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\K" + std::to_string(i) + "]\n\"V\"=dword:1\n";
  const std::string longPath(1000000, 'p');
  text += std::string("[") + kKey + "]\n\"AppPath\"=\"" + longPath + "\"\n";
  text += "\"Bin\"=hex:" ;
  for (int i = 0; i < 100000; ++i) text += "00,\\\n  ";
  text += "01\n";
  const TRegistryFile file = TRegistryFile::Parse(text);
  EXPECT_EQ(Text(file, kKey, "AppPath"), longPath);
  TRegistryValue value;
  ASSERT_EQ(file.Find(kKey, "Bin", value), TRegistryQuery::Found);
  EXPECT_EQ(value.Data.size(), 100001u);
  EXPECT_EQ(file.Find("HKEY_LOCAL_MACHINE\\SOFTWARE\\K19999", "V", value), TRegistryQuery::Found);
}

}  // namespace
