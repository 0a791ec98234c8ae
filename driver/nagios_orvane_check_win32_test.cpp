// The built Windows program run as Nagios runs it, against an installation
// found through the registry and through -p, and what Windows reads from its
// resources.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cwchar>
#include <fstream>
#include <functional>
#include <string>
#include <sstream>
#include <thread>
#include <vector>

#include "common/WideText_win32.h"
#include "driver/ProgramInfo.h"
#include "driver/ProgramIo_win32.h"
#include "driver/nagios_orvane_check.h"
#include "testing/CheckOutput.h"
#include "testing/ChildProcess_win32.h"
#include "testing/TempDirectory_win32.h"

namespace {

// The program beside this test program.
std::wstring ProgramPath() {
  const std::string Own = OwnExecutablePath();
  return WideFromUtf8(Own.substr(0, Own.rfind('\\') + 1) + "nagios_orvane_check.exe");
}

// Runs the program with the given argument text (as it would stand on a
// command line) in WorkingDirectory, as a monitoring agent would.
TCommandResult RunCheck(const std::string& ArgumentText, const std::string& WorkingDirectory) {
  const TCommandResult Result =
      RunCommandLine(Utf8FromWide(ProgramPath()), ArgumentText, WorkingDirectory);
  EXPECT_GE(Result.ExitStatus, 0) << "the program did not end within a minute";
  return Result;
}

const char* const InstallationKey = "SOFTWARE\\Kestrix Technologies\\Orvane";
constexpr REGSAM View32 = KEY_WOW64_32KEY;

// An installation tree in a scratch directory, and the installation's
// registry key (32-bit view) as the test sets it; the key is put back as it
// was afterwards.
class ProgramWin32 : public ::testing::Test {
protected:
  TTempDirectory Dir;
  std::string AppPath;  // with its trailing backslash
  std::string Elsewhere;

  void SetUp() override {
    HKEY Key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, WideFromUtf8(InstallationKey).c_str(), 0,
                      KEY_READ | View32, &Key) == ERROR_SUCCESS) {
      KeyExisted = true;
      DWORD Type, Size = 0;
      if (RegQueryValueExW(Key, L"AppPath", nullptr, &Type, nullptr, &Size) == ERROR_SUCCESS) {
        SavedValue.assign(Size, 0);
        ValueExisted = RegQueryValueExW(Key, L"AppPath", nullptr, &SavedType, SavedValue.data(),
                                        &Size) == ERROR_SUCCESS;
        SavedValue.resize(Size);
      }
      RegCloseKey(Key);
    }
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Kestrix Technologies", 0, KEY_READ | View32,
                      &Key) == ERROR_SUCCESS) {
      ParentExisted = true;
      RegCloseKey(Key);
    }
    if (!OpenForWriting()) GTEST_SKIP() << "no write access to HKEY_LOCAL_MACHINE";

    const std::string Root = Dir / "Program Files (x86)\\Orvane";
    AppPath = Root + "\\App\\";
    Dir.Write("Program Files (x86)\\Orvane\\App\\Orvane.ini",
              "[Ports]\r\nSMTPIn=2525\r\nSSL-IMAP=1993\r\n");
    Dir.Write("Program Files (x86)\\Orvane\\Lumicourt\\Lumicourt.ini",
              "[WebServer]\r\nPort=3001\r\n[SSL]\r\nPort=3443\r\n");
    Dir.Write("Program Files (x86)\\Orvane\\Helmstead\\Helmstead.ini", "[WebServer]\r\nPort=1001\r\n");
    Elsewhere = Dir / "Elsewhere";
    TTempDirectory::MakeDirectories(Elsewhere);
  }

  void TearDown() override {
    if (!Writable) return;
    if (ValueExisted)
      SetAppPathRaw(SavedType, SavedValue.data(), SavedValue.size());
    else
      RemoveAppPath();
    if (!KeyExisted) RegDeleteKeyExW(HKEY_LOCAL_MACHINE, WideFromUtf8(InstallationKey).c_str(), View32, 0);
    if (!ParentExisted)
      RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Kestrix Technologies", View32, 0);
  }

  bool OpenForWriting() {
    HKEY Key;
    Writable = RegCreateKeyExW(HKEY_LOCAL_MACHINE, WideFromUtf8(InstallationKey).c_str(), 0,
                               nullptr, 0, KEY_ALL_ACCESS | View32, nullptr, &Key,
                               nullptr) == ERROR_SUCCESS;
    if (Writable) RegCloseKey(Key);
    return Writable;
  }
  void SetAppPathRaw(DWORD Type, const void* Data, size_t Size) {
    HKEY Key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, WideFromUtf8(InstallationKey).c_str(), 0, nullptr,
                              0, KEY_ALL_ACCESS | View32, nullptr, &Key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(Key, L"AppPath", 0, Type, static_cast<const BYTE*>(Data),
                             static_cast<DWORD>(Size)),
              ERROR_SUCCESS);
    RegCloseKey(Key);
  }
  void SetAppPath(const std::string& Path) {
    const std::wstring Wide = WideFromUtf8(Path);
    SetAppPathRaw(REG_SZ, Wide.c_str(), (Wide.size() + 1) * sizeof(wchar_t));
  }
  void RemoveAppPath() {
    HKEY Key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, WideFromUtf8(InstallationKey).c_str(), 0,
                      KEY_ALL_ACCESS | View32, &Key) == ERROR_SUCCESS) {
      RegDeleteValueW(Key, L"AppPath");
      RegCloseKey(Key);
    }
  }

  TCommandResult Check(const std::string& Arguments) { return RunCheck(Arguments, Elsewhere); }

private:
  bool Writable = false, KeyExisted = false, ParentExisted = false, ValueExisted = false;
  DWORD SavedType = REG_NONE;
  std::vector<BYTE> SavedValue;
};

// Wine keeps every socket in its own server process and reports owner 0, so
// nothing is attributed to the mail server there and every count is 0.
TEST_F(ProgramWin32, FindsTheInstallationThroughTheRegistry) {
  SetAppPath(AppPath);
  EXPECT_TRUE(Answers(Check("-w 5 -c 10"), "", "\r\n"));

  const TCommandResult Detailed = Check("--warn=5 --crit=10 -v");
  EXPECT_TRUE(IsOneLine(Detailed.Out, "\r\n"));
  EXPECT_EQ(StatusOf(Detailed.Out),
            "OK - Connections=0 SmtpIn=0 SmtpOut=0 SmtpSSL=0 PopIn=0 PopOut=0 PopSSL=0 ImapIn=0 "
            "ImapSSL=0 Other=0 LCin=0 LCSSL=0 HSin=0 HSSSL=0");
  EXPECT_EQ(Detailed.ExitStatus, 0);
}

TEST_F(ProgramWin32, FindsTheInstallationThroughAQuotedPathEndingInABackslash) {
  SetAppPath(Dir / "Nothing here\\");
  EXPECT_TRUE(Answers(Check("-p \"" + AppPath + "\" -w 5 -c 10"), "", "\r\n"));
}

TEST_F(ProgramWin32, ChecksThatCannotBeMadeAreUnknown) {
  const std::string Helmstead = AppPath + "..\\Helmstead\\Helmstead.ini";
  const std::wstring HelmsteadWide = WideFromUtf8(Dir / "Program Files (x86)\\Orvane\\Helmstead\\Helmstead.ini");
  const struct {
    const char* Situation;
    std::function<void()> Arrange;
    std::string Arguments;
    std::string Unknown;  // what the UNKNOWN line names
  } Cases[] = {
      {"no installation key", [&] { RemoveAppPath(); }, "-w 5 -c 10 -r 0", "Orvane.ini"},
      {"AppPath not text",
       [&] {
         const DWORD Number = 7;
         SetAppPathRaw(REG_DWORD, &Number, sizeof Number);
       },
       "-w 5 -c 10", "Invalid data type for 'AppPath'"},
      {"a configuration file missing",
       [&] {
         SetAppPath(AppPath);
         DeleteFileW(HelmsteadWide.c_str());
       },
       "-w 5 -c 10 -r 1 -d 10", Helmstead},
      {"a path without its trailing backslash", [&] { RemoveAppPath(); },
       "-w 5 -c 10 -r 0 -p \"" + AppPath.substr(0, AppPath.size() - 1) + "\"",
       AppPath.substr(0, AppPath.size() - 1) + "Orvane.ini"},
      // 40 MB would exhaust a 32-bit program's address space if read whole.
      {"a configuration file past the size limit",
       [&] {
         SetAppPath(AppPath);
         const HANDLE File = CreateFileW(WideFromUtf8(AppPath + "Orvane.ini").c_str(), GENERIC_WRITE,
                                         0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
         LARGE_INTEGER End;
         End.QuadPart = 40 << 20;
         EXPECT_TRUE(SetFilePointerEx(File, End, nullptr, FILE_BEGIN) && SetEndOfFile(File));
         CloseHandle(File);
       },
       "-w 5 -c 10 -r 0", AppPath + "Orvane.ini"},
  };
  for (const auto& Case : Cases) {
    Case.Arrange();
    EXPECT_TRUE(Answers(Check(Case.Arguments), Case.Unknown, "\r\n")) << Case.Situation;
  }
}

TEST_F(ProgramWin32, AFileTheServerHoldsForWritingIsUnknownAfterTheRetries) {
  SetAppPath(AppPath);
  const std::string Name = AppPath + "Orvane.ini";
  const HANDLE Writer = CreateFileW(WideFromUtf8(Name).c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(Writer, INVALID_HANDLE_VALUE);
  const TCommandResult Held = Check("-w 5 -c 10 -r 2 -d 10");
  CloseHandle(Writer);
  EXPECT_TRUE(Answers(Held, Name, "\r\n"));
  EXPECT_TRUE(Answers(Check("-w 5 -c 10"), "", "\r\n"));
}

// --output-file while another process reads the old file (a collector, which
// opens it without FILE_SHARE_DELETE): Windows refuses the replacement until
// the reader lets go. Held until the program's temporary file shows, then a
// moment longer, the file is replaced once released; held throughout, the
// -t seconds end the wait. Either way no temporary file stays.
TEST_F(ProgramWin32, OutputFileWaitsForAReaderToLetGo) {
  const std::string Folder = Dir / "textfile_inputs";
  const std::string Path = Folder + "\\orvane.prom";
  const auto Temporaries = [&Folder] {
    WIN32_FIND_DATAW Entry;
    const HANDLE Search = FindFirstFileW(WideFromUtf8(Folder + "\\*.tmp").c_str(), &Entry);
    if (Search == INVALID_HANDLE_VALUE) return 0;
    int Found = 0;
    do ++Found;
    while (FindNextFileW(Search, &Entry));
    FindClose(Search);
    return Found;
  };
  const std::string Arguments = "-w 5 -c 10 -p \"" + AppPath + "\" --output-format=prometheus --output-file=\"" + Path + "\"";
  for (const bool Released : {true, false}) {
    Dir.Write("textfile_inputs\\orvane.prom", "old\n");
    const HANDLE Reader = CreateFileW(WideFromUtf8(Path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(Reader, INVALID_HANDLE_VALUE);
    std::atomic<bool> SawTemporary{false};
    std::thread Holder([&] {
      for (int Wait = 0; Wait < 2000 && !SawTemporary; ++Wait) {
        SawTemporary = Temporaries() > 0;
        Sleep(10);
      }
      if (!Released) return;
      Sleep(300);
      CloseHandle(Reader);
    });
    const TCommandResult Run = Check(Released ? Arguments : Arguments + " -t 3");
    Holder.join();
    if (!Released) CloseHandle(Reader);
    EXPECT_TRUE(SawTemporary) << "the program never waited for the reader";
    EXPECT_EQ(Temporaries(), 0);
    const HANDLE File = CreateFileW(WideFromUtf8(Path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(File, INVALID_HANDLE_VALUE);
    char Head[32];
    DWORD Read = 0;
    ReadFile(File, Head, sizeof Head, &Read, nullptr);
    CloseHandle(File);
    const std::string Content(Head, Read);
    if (Released) {
      EXPECT_EQ(Run.Out, "");
      EXPECT_EQ(Run.ExitStatus, 0);
      EXPECT_EQ(Content.rfind("# HELP orvane_check_status ", 0), 0u) << Content;
    } else {
      EXPECT_EQ(Run.Out.rfind("Unknown - Can not write " + Path + ": ", 0), 0u) << Run.Out;
      EXPECT_TRUE(IsOneLine(Run.Out, "\r\n")) << Run.Out;
      EXPECT_EQ(Run.ExitStatus, 3);
      EXPECT_EQ(Content, "old\n");
    }
  }
}

// -t running out while the server holds its configuration: the output
// file's old counts give way to the timed-out run, and standard output stays
// empty as with any run the file took.
TEST_F(ProgramWin32, ATimeoutReplacesTheOutputFilesCounts) {
  const std::string Path = Dir.Write("orvane.prom", "orvane_check_status 0\n");
  const HANDLE Held = CreateFileW(WideFromUtf8(AppPath + "Orvane.ini").c_str(), GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(Held, INVALID_HANDLE_VALUE);
  const TCommandResult Run = Check("-w 5 -c 10 -r 50 -d 200 -t 1:critical -p \"" + AppPath +
                                   "\" --output-format=prometheus --output-file=\"" + Path + "\"");
  CloseHandle(Held);
  EXPECT_EQ(Run.Out, "");
  EXPECT_EQ(Run.ExitStatus, 2);
  std::ostringstream Content;
  Content << std::ifstream(Path, std::ios::binary).rdbuf();
  EXPECT_NE(Content.str().find("Timeout after 1 seconds"), std::string::npos) << Content.str();
  EXPECT_NE(Content.str().find("\norvane_check_status 2\n"), std::string::npos) << Content.str();
}

TEST_F(ProgramWin32, TextBeyondAsciiGoesOutInTheAnsiCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "sample is for code page 1252";
  EXPECT_TRUE(Answers(Check("-w 5 -c 10 -r 0 -p \"" + Dir / "M\xC3\xA4il\\\""),
                      Dir.Path + "\\M\xE4il\\Orvane.ini", "\r\n"));
}

TEST_F(ProgramWin32, CommandLineAnswers) {
  const std::string Program = Utf8FromWide(ProgramPath());
  const TCommandResult Help = Check("-h");
  EXPECT_EQ(Help.ExitStatus, 0);
  EXPECT_EQ(Help.Out.rfind("Orvane Check Plugin for Nagios v1.0/Win32\n", 0), 0u) << Help.Out;
  EXPECT_NE(Help.Out.find("\nUsage " + Program +
                          " -w -c [-wX] [-cX] [-h] [-V] [-d delay] [-r retry] [-p path] [-v]\n"),
            std::string::npos)
      << Help.Out;
  // Text of more than one line has LF line ends (a monitoring system that
  // splits on CR too would show an empty line between each); one line ends
  // with CR LF.
  EXPECT_EQ(Help.Out.find('\r'), std::string::npos) << Help.Out;
  EXPECT_EQ(Check("-V").Out, "Orvane Check Plugin for Nagios v1.0/Win32\r\n");

  const TCommandResult Missing = Check("-w 5");
  EXPECT_EQ(Missing.ExitStatus, 3);
  EXPECT_EQ(Missing.Out, Help.Out + "\nError:\nMissing parameter \"c\" \n");

  const TCommandResult Unknown = Check("-W 5 -c 10");
  EXPECT_EQ(Unknown.Out, "Unknown parameter W\r\n");
  EXPECT_EQ(Unknown.ExitStatus, 3);

  // A line break in the argument the message quotes stays off the output.
  const TCommandResult Broken = Check("\"-x\nOK - all fine\"");
  EXPECT_EQ(Broken.Out, "Unknown parameter x OK - all fine\r\n");
  EXPECT_EQ(Broken.ExitStatus, 3);
}

// ---- What Windows reads from the built program's resources ------------------------

TEST(ProgramResourcesWin32, VersionResourceMatchesTheBanner) {
  const std::wstring Program = ProgramPath();
  DWORD Ignored = 0;
  const DWORD Size = GetFileVersionInfoSizeW(Program.c_str(), &Ignored);
  ASSERT_GT(Size, 0u) << "no version resource: " << GetLastError();
  std::vector<BYTE> Info(Size);
  ASSERT_TRUE(GetFileVersionInfoW(Program.c_str(), 0, Size, Info.data()));

  VS_FIXEDFILEINFO* Fixed = nullptr;
  UINT Length = 0;
  ASSERT_TRUE(VerQueryValueW(Info.data(), L"\\", reinterpret_cast<void**>(&Fixed), &Length));
  ASSERT_GE(Length, sizeof *Fixed);
  EXPECT_EQ(Fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(Fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  const DWORD Packed[][2] = {{Fixed->dwFileVersionMS, Fixed->dwFileVersionLS},
                             {Fixed->dwProductVersionMS, Fixed->dwProductVersionLS}};
  for (const auto& Version : Packed) {
    const std::string Text = std::to_string(HIWORD(Version[0])) + "." +
                             std::to_string(LOWORD(Version[0])) + "." +
                             std::to_string(HIWORD(Version[1]));
    EXPECT_EQ(Text, ORVANE_VERSION_TEXT);
    EXPECT_EQ(LOWORD(Version[1]), 0u);
    // The banner names the same major and minor version.
    const std::string MajorMinor = Text.substr(0, Text.rfind('.'));
    EXPECT_NE(BannerLine().find(" v" + MajorMinor + "/"), std::string::npos) << BannerLine();
  }

  struct TTranslation {
    WORD Language, CodePage;
  }* Translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(Info.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&Translation), &Length));
  ASSERT_GE(Length, sizeof *Translation);
  wchar_t Block[64];
  swprintf(Block, 64, L"\\StringFileInfo\\%04x%04x\\", Translation->Language, Translation->CodePage);
  const std::string Usage = UsageText("");
  const size_t Second = Usage.find('\n') + 1;
  const struct {
    const wchar_t* Name;
    std::string Expected;
  } Strings[] = {
      {L"ProductName", "Orvane Check Plugin for Nagios"},
      {L"FileDescription", "Orvane Check Plugin for Nagios"},
      {L"ProductVersion", ORVANE_VERSION_TEXT},
      {L"FileVersion", ORVANE_VERSION_TEXT},
      {L"OriginalFilename", "nagios_orvane_check.exe"},
      // The authorship line of the usage text.
      {L"LegalCopyright", Usage.substr(Second, Usage.find('\n', Second) - Second)},
  };
  for (const auto& String : Strings) {
    wchar_t* Value = nullptr;
    const std::wstring Query = Block + std::wstring(String.Name);
    if (!VerQueryValueW(Info.data(), Query.c_str(), reinterpret_cast<void**>(&Value), &Length) ||
        !Value) {
      ADD_FAILURE() << "no " << Utf8FromWide(String.Name, wcslen(String.Name));
      continue;
    }
    EXPECT_EQ(Utf8FromWide(Value, wcslen(Value)), String.Expected)
        << Utf8FromWide(String.Name, wcslen(String.Name));
  }
}

TEST(ProgramResourcesWin32, ManifestIsEmbedded) {
  const HMODULE Image = LoadLibraryExW(ProgramPath().c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(Image, nullptr) << GetLastError();
  // The loader reads the manifest of a program from this id.
  const HRSRC Found = FindResourceW(Image, CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST);
  std::string Manifest;
  if (Found) {
    const HGLOBAL Loaded = LoadResource(Image, Found);
    const char* Bytes = Loaded ? static_cast<const char*>(LockResource(Loaded)) : nullptr;
    if (Bytes) Manifest.assign(Bytes, SizeofResource(Image, Found));
  }
  FreeLibrary(Image);
  ASSERT_FALSE(Manifest.empty()) << "no manifest resource";

  const char* const Present[] = {
      "level=\"asInvoker\"",                      // runs with the caller's rights
      "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  // Windows Vista
      "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // Windows 7
      "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // Windows 8
      "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // Windows 8.1
      "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // Windows 10 and 11
      ">true</longPathAware>",                   // long paths
      "version=\"" ORVANE_VERSION_TEXT ".0\"",    // the version
  };
  for (const char* Text : Present) EXPECT_NE(Manifest.find(Text), std::string::npos) << Text << "\n" << Manifest;
  // Output stays in the system's ANSI code page.
  EXPECT_EQ(Manifest.find("activeCodePage"), std::string::npos) << Manifest;
}

}  // namespace
