// The program's exchange with Windows: how it splits its command line, and
// the bytes its text goes out as.
#include <gtest/gtest.h>

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "common/WideText_win32.h"
#include "driver/ProgramIo_win32.h"

namespace {

TEST(ProgramArgumentsWin32, SplitsTheCommandLineByTheProgramsOwnRules) {
  const struct {
    const wchar_t* CommandLine;
    std::vector<std::string> Expected;
    const wchar_t* OwnPath = L"";
  } Cases[] = {
      {L"nagios_orvane_check.exe -w 5 -c 10", {"-w", "5", "-c", "10"}},
      // A backslash before a quote escapes nothing: the directory keeps its
      // trailing backslash and the next argument stands on its own.
      {L"\"C:\\Program Files\\NSClient++\\scripts\\nagios_orvane_check.exe\" "
       L"-p \"C:\\Program Files (x86)\\Orvane\\App\\\" -w 1",
       {"-p", "C:\\Program Files (x86)\\Orvane\\App\\", "-w", "1"}},
      {L"check.exe -p \"D:\\Orvane\\\"", {"-p", "D:\\Orvane\\"}},
      {L"check.exe -p=\"D:\\Mail Server\\App\\\"", {"-p=D:\\Mail Server\\App\\"}},
      {L"check.exe -p \"D:\\Mail Server\\App\\\\\"", {"-p", "D:\\Mail Server\\App\\\\"}},
      // Quotes open and close stretches inside one argument.
      {L"check.exe -p D:\\\"Mail Server\"\\App\\", {"-p", "D:\\Mail Server\\App\\"}},
      {L"check.exe -p \"D:\\Open", {"-p", "D:\\Open"}},
      {L"check.exe -w \"\" 5", {"-w", "5"}},
      {L"check.exe\t-w\t5   -c\t\t6 ", {"-w", "5", "-c", "6"}},
      {L"check.exe -p D:\\M\u00e4il\\\u65e5\\", {"-p", "D:\\M\xC3\xA4il\\\xE6\x97\xA5\\"}},
      {L"\"C:\\Program Files\\check.exe\"", {}},
      {L"", {}},
      // The program's own path unquoted, as Windows hands it over verbatim:
      // exactly that path is the program name, whatever its case, with or
      // without ".exe", when a blank or the end follows.
      {L"C:\\Program Files\\N S\\check.exe -w 1 -p \"D:\\A B\\\"", {"-w", "1", "-p", "D:\\A B\\"},
       L"C:\\Program Files\\N S\\check.exe"},
      {L"c:\\program files\\n s\\CHECK\t-w 1", {"-w", "1"}, L"C:\\Program Files\\N S\\check.exe"},
      {L"C:\\Program Files\\N S\\check.exe", {}, L"C:\\Program Files\\N S\\check.exe"},
      {L"C:\\Program Files\\N S\\check.exe2 -w 1", {"Files\\N", "S\\check.exe2", "-w", "1"},
       L"C:\\Program Files\\N S\\check.exe"},
      {L"C:\\Program Files\\N S\\other.exe -w 1", {"Files\\N", "S\\other.exe", "-w", "1"},
       L"C:\\Program Files\\N S\\check.exe"},
      {L" C:\\Program Files\\check.exe -w 1", {"Files\\check.exe", "-w", "1"},
       L"C:\\Program Files\\check.exe"},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(ProgramArguments(Case.CommandLine, Case.OwnPath), Case.Expected)
        << Utf8FromWide(Case.CommandLine, wcslen(Case.CommandLine));
  EXPECT_TRUE(ProgramArguments(nullptr).empty());
}

TEST(OutputBytesWin32, EndsLinesWithCrLfInTheCodePage) {
  const struct {
    std::string Text;
    UINT CodePage;
    std::string Expected;
  } Cases[] = {
      {"OK - Connections=0|Connections=0\n", 1252, "OK - Connections=0|Connections=0\r\n"},
      {"line 1\nline 2\n\nline 4\n", 1252, "line 1\r\nline 2\r\n\r\nline 4\r\n"},
      {"already\r\nended\n", 1252, "already\r\nended\r\n"},
      {"no line break", 1252, "no line break"},
      {"", 1252, ""},
      {"D:\\M\xC3\xA4il\\\n", 1252, "D:\\M\xE4il\\\r\n"},
      {"\xE6\x97\xA5\n", 1252, "?\r\n"},  // not in the code page
      {"D:\\M\xC3\xA4il\\\n", CP_UTF8, "D:\\M\xC3\xA4il\\\r\n"},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(OutputBytes(Case.Text, Case.CodePage), Case.Expected) << Case.Text;
}

}  // namespace
