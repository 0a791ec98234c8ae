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
      // Windows tries the prefixes shortest first: the first that is the
      // program's file is its name.
      {L"C:\\N S\\check.exe S\\check.exe -w 1", {"S\\check.exe", "-w", "1"},
       L"C:\\N S\\check.exe"},
      {L"C:\\N S\\check.exe\t\t-w 1", {"-w", "1"}, L"C:\\N S\\check.exe"},
      // Spelt otherwise, the same file: either separator, doubled ones, "."
      // and "..".
      {L"C:/Program Files/N S/check.exe -w 1", {"-w", "1"}, L"C:\\Program Files\\N S\\check.exe"},
      {L"C:\\Program Files\\\\N S\\\\check -w 1", {"-w", "1"},
       L"C:\\Program Files\\N S\\check.exe"},
      {L"C:\\Program Files\\N S\\.\\..\\N S\\check.exe -w 1", {"-w", "1"},
       L"C:\\Program Files\\N S\\check.exe"},
      // A line that starts with a blank has an empty program name: the first
      // word after the blanks is an argument.
      {L" C:\\Program Files\\check.exe -w 1", {"C:\\Program", "Files\\check.exe", "-w", "1"},
       L"C:\\Program Files\\check.exe"},
      {L"\t -w 1", {"-w", "1"}},
      {L" ", {}},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(ProgramArguments(Case.CommandLine, Case.OwnPath), Case.Expected)
        << Utf8FromWide(Case.CommandLine, wcslen(Case.CommandLine));
  EXPECT_TRUE(ProgramArguments(nullptr).empty());
}

// An agent names the check relative to its own folder, as its working
// directory: Windows completes the name from there.
TEST(ProgramArgumentsWin32, ARelativeUnquotedNameOfTheProgramIsItsName) {
  std::wstring Here(32768, L'\0');
  Here.resize(GetCurrentDirectoryW(static_cast<DWORD>(Here.size()), &Here[0]));
  ASSERT_FALSE(Here.empty());
  if (Here.back() == L'\\') Here.pop_back();
  const std::wstring Own = Here + L"\\scripts\\my checks\\nagios_orvane_check.exe";
  const std::wstring Leaf = Here.substr(Here.rfind(L'\\') + 1);
  const std::vector<std::string> Arguments = {"-w", "1", "-p", "D:\\A B\\"};
  const std::wstring Rest = L" -w 1 -p \"D:\\A B\\\"";
  std::vector<std::wstring> Names = {
      L"scripts\\my checks\\nagios_orvane_check.exe",
      L"scripts/my checks/nagios_orvane_check.exe",
      L"Scripts\\My Checks\\NAGIOS_ORVANE_CHECK",
      L"scripts\\\\my checks//nagios_orvane_check.exe",
      L".\\scripts\\my checks\\..\\my checks\\.\\nagios_orvane_check.exe",
      Here.substr(2) + L"\\scripts\\my checks\\nagios_orvane_check.exe",  // from the drive's root
  };
  if (!Leaf.empty() && Leaf.find(L':') == std::wstring::npos)
    Names.push_back(L"..\\" + Leaf + L"\\scripts\\my checks\\nagios_orvane_check.exe");
  for (const std::wstring& Name : Names)
    EXPECT_EQ(ProgramArguments((Name + Rest).c_str(), Own), Arguments) << Utf8FromWide(Name);
  // Another folder: the blank splits the name.
  EXPECT_EQ(ProgramArguments((L"scripts\\other checks\\nagios_orvane_check.exe" + Rest).c_str(), Own),
            (std::vector<std::string>{"checks\\nagios_orvane_check.exe", "-w", "1", "-p", "D:\\A B\\"}));
}

// One line ends with CR LF as ever; longer output (the long output of
// --details, the usage text) has LF line ends, which a monitoring system
// that splits on CR and on LF alike (Icinga 2) reads without empty lines.
TEST(OutputBytesWin32, EndsOneLineWithCrLfAndLongerTextWithLfInTheCodePage) {
  const struct {
    std::string Text;
    UINT CodePage;
    std::string Expected;
  } Cases[] = {
      {"OK - Connections=0|Connections=0\n", 1252, "OK - Connections=0|Connections=0\r\n"},
      {"Unknown - ended\r\n", 1252, "Unknown - ended\r\n"},
      {"\n", 1252, "\r\n"},
      {"line 1\nline 2\n\nline 4\n", 1252, "line 1\nline 2\n\nline 4\n"},
      {"OK - C=0|C=0\nSMTPin port 25: 0\n", 1252, "OK - C=0|C=0\nSMTPin port 25: 0\n"},
      {"already\r\nended\r\n", 1252, "already\nended\n"},
      {"two\nlines", 1252, "two\nlines"},
      {"no line break", 1252, "no line break"},
      {"", 1252, ""},
      {"D:\\M\xC3\xA4il\\\n", 1252, "D:\\M\xE4il\\\r\n"},
      {"\xE6\x97\xA5\n", 1252, "?\r\n"},  // not in the code page
      {"D:\\M\xC3\xA4il\\\n", CP_UTF8, "D:\\M\xC3\xA4il\\\r\n"},
      {"D:\\M\xC3\xA4il\\\nline 2\n", 1252, "D:\\M\xE4il\\\nline 2\n"},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(OutputBytes(Case.Text, Case.CodePage), Case.Expected) << Case.Text;
}

TEST(OutputBytesWin32, PreparedOutputHoldsTheBytesAndTheConsoleText) {
  const TPreparedOutput Line = PrepareOutput("Unknown - Timeout after 5 seconds\n");
  EXPECT_EQ(Line.Bytes, OutputBytes("Unknown - Timeout after 5 seconds\n"));
  EXPECT_EQ(Line.Console, L"Unknown - Timeout after 5 seconds\r\n");
  const TPreparedOutput Lines = PrepareOutput("a\r\nb\n");
  EXPECT_EQ(Lines.Bytes, "a\nb\n");
  EXPECT_EQ(Lines.Console, L"a\nb\n");
  // Verbatim output (the machine formats) goes out as the UTF-8 it is, one
  // line or more, whatever the code page.
  for (const std::string Text : {"{\"path\":\"D:\\\\M\xC3\xA4il\"}\n", "a\nb\n", "one\n"}) {
    const TPreparedOutput Verbatim = PrepareOutput(Text, true);
    EXPECT_EQ(Verbatim.Bytes, Text);
    EXPECT_EQ(Verbatim.Console, WideFromUtf8(Text));
  }
}

// The system's error boxes (a drive that is not ready, a file that cannot be
// opened) are kept away; the error mode's other bits stay.
TEST(ErrorModeWin32, KeepsTheSystemsErrorBoxesAwayAndTheOtherBits) {
  const UINT Saved = GetErrorMode();
  for (const UINT Before : {UINT(0), UINT(SEM_NOGPFAULTERRORBOX), UINT(SEM_NOALIGNMENTFAULTEXCEPT),
                            UINT(SEM_FAILCRITICALERRORS)}) {
    SetErrorMode(Before);
    KeepSystemErrorDialogsAway();
    EXPECT_EQ(GetErrorMode(), Before | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX) << Before;
  }
  SetErrorMode(Saved);
}

}  // namespace
