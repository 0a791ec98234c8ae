// The configuration reader on the real Windows file system: share modes,
// waits, devices and the ANSI code page.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "testing/FakeRegistry.h"
#include "install/Orvane.h"
#include "testing/TempDirectory_win32.h"

namespace {

TFakeRegistry NoRegistry;  // DataPath stays empty

// The system's file access, watched: every attempt and wait is recorded, and
// a test may act at the moment of a wait.
class TWatchedFiles : public TConfigFileSystem {
public:
  int Attempts = 0;
  std::vector<int32_t> Sleeps;
  std::function<void()> OnSleep;

  bool ReadWholeFile(const std::string& FileName, std::string& Bytes) override {
    ++Attempts;
    return SystemConfigFileSystem().ReadWholeFile(FileName, Bytes);
  }
  void Sleep(int32_t Milliseconds) override {
    Sleeps.push_back(Milliseconds);
    if (OnSleep) OnSleep();
    SystemConfigFileSystem().Sleep(Milliseconds);
  }
};

class THeldFile {
public:
  THeldFile(const std::string& Name, DWORD Access, DWORD Share)
      : Handle(CreateFileW(WideFromUtf8(Name).c_str(), Access, Share, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr)) {
    if (Handle == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot hold " + Name);
  }
  ~THeldFile() { Release(); }
  void Release() {
    if (Handle != INVALID_HANDLE_VALUE) CloseHandle(Handle);
    Handle = INVALID_HANDLE_VALUE;
  }

private:
  HANDLE Handle;
};

const std::string Ini = "[Ports]\r\n; comment\r\nSMTPIn=2525\r\n\r\n  POPIn=1110\r\n";
const std::vector<std::string> IniLines = {"[Ports]", "SMTPIn=2525", "  POPIn=1110"};

TEST(ConfigFileWin32, WriterReleasedDuringTheWaitCostsOneWait) {
  TTempDirectory Dir;
  const std::string Name = Dir.Write("Orvane.ini", Ini);
  // The server writes with others allowed to read and write; a reader that
  // shares reading only is still shut out.
  THeldFile Writer(Name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  TWatchedFiles Files;
  Files.OnSleep = [&] { Writer.Release(); };
  TOrvane Orvane(Files, NoRegistry);
  Orvane.RetryDelay = 20;
  std::vector<std::string> Lines{"stale"};
  EXPECT_TRUE(Orvane.LoadConfigFile(Name, Lines));
  EXPECT_EQ(Lines, IniLines);
  EXPECT_EQ(Files.Attempts, 2);
  EXPECT_EQ(Files.Sleeps, std::vector<int32_t>{20});
}

TEST(ConfigFileWin32, WriterNeverReleasedFailsAfterEveryRetry) {
  TTempDirectory Dir;
  const std::string Name = Dir.Write("Orvane.ini", Ini);
  THeldFile Writer(Name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ);
  TWatchedFiles Files;
  TOrvane Orvane(Files, NoRegistry);
  Orvane.RetryDelay = 5;
  Orvane.RetryCount = 2;
  std::vector<std::string> Lines{"stale"};
  try {
    Orvane.LoadConfigFile(Name, Lines);
    ADD_FAILURE() << "the held file was read";
  } catch (const std::runtime_error& Error) {
    EXPECT_EQ(std::string(Error.what()), "Can not read " + Name);
  }
  EXPECT_EQ(Files.Attempts, 3);
  EXPECT_EQ(Files.Sleeps, (std::vector<int32_t>{5, 5}));
  EXPECT_TRUE(Lines.empty());
}

TEST(ConfigFileWin32, OtherReadersDoNotStandInTheWay) {
  TTempDirectory Dir;
  const std::string Name = Dir.Write("Orvane.ini", Ini);
  THeldFile Reader(Name, GENERIC_READ, FILE_SHARE_READ);
  std::string Bytes;
  EXPECT_TRUE(SystemConfigFileSystem().ReadWholeFile(Name, Bytes));
  EXPECT_EQ(Bytes, Ini);
}

TEST(ConfigFileWin32, ReadsEveryByteAsStored) {
  TTempDirectory Dir;
  std::string Large;
  for (int i = 0; Large.size() < 300000; ++i) Large += "Key" + std::to_string(i) + "=\xE4\r\n";
  const std::string Cases[] = {"", std::string("a\0b\r\n\xFF\xFE", 7), Large};
  for (const std::string& Content : Cases) {
    const std::string Name = Dir.Write("f.ini", Content);
    std::string Bytes = "stale";
    EXPECT_TRUE(SystemConfigFileSystem().ReadWholeFile(Name, Bytes));
    EXPECT_EQ(Bytes.size(), Content.size());
    EXPECT_TRUE(Bytes == Content);
  }
}

// Nothing but a disk file is read, and nothing holds the attempt up.
TEST(ConfigFileWin32, MissingFilesDirectoriesAndDevicesFailAtOnce) {
  TTempDirectory Dir;
  Dir.Write("App\\Orvane.ini", Ini);
  const std::wstring PipeName = L"\\\\.\\pipe\\orvane-test-" + std::to_wstring(GetCurrentProcessId());
  const HANDLE Pipe = CreateNamedPipeW(PipeName.c_str(), PIPE_ACCESS_DUPLEX,
                                       PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
  ASSERT_NE(Pipe, INVALID_HANDLE_VALUE);
  const std::string Names[] = {
      Dir / "Absent.ini",
      Dir / "App",
      Dir / "App\\",
      Dir / "Absent\\Orvane.ini",
      Utf8FromWide(PipeName),
      "NUL",
      "",
  };
  for (const std::string& Name : Names) {
    std::string Bytes;
    EXPECT_FALSE(SystemConfigFileSystem().ReadWholeFile(Name, Bytes)) << Name;
  }
  CloseHandle(Pipe);
}

TEST(ConfigFileWin32, NamesWithDotDotAndPastTheLengthLimitAreRead) {
  TTempDirectory Dir;
  std::string Deep = "App";
  while (Deep.size() < 300) Deep += "\\a-rather-long-directory-name";
  Dir.Write(Deep + "\\Orvane.ini", Ini);
  Dir.Write("Lumicourt\\Lumicourt.ini", "[WebServer]\r\nPort=3000\r\n");
  const std::string DataPath = Dir / Deep + "\\";
  std::string UpAgain;
  for (size_t At = 0; (At = Deep.find('\\', At + 1)) != std::string::npos;) UpAgain += "..\\";
  std::string Bytes;
  EXPECT_TRUE(SystemConfigFileSystem().ReadWholeFile(DataPath + "Orvane.ini", Bytes));
  EXPECT_EQ(Bytes, Ini);
  EXPECT_TRUE(SystemConfigFileSystem().ReadWholeFile(
      DataPath + UpAgain + "..\\Lumicourt\\Lumicourt.ini", Bytes));
  EXPECT_EQ(Bytes, "[WebServer]\r\nPort=3000\r\n");
}

TEST(ConfigFileWin32, NamesBeyondAsciiAreOpened) {
  TTempDirectory Dir;
  const std::string Name = Dir.Write("M\xC3\xA4il \xE6\x97\xA5\\Orvane.ini", Ini);
  std::string Bytes;
  EXPECT_TRUE(SystemConfigFileSystem().ReadWholeFile(Name, Bytes));
  EXPECT_EQ(Bytes, Ini);
}

TEST(AnsiToUtf8Win32, DecodesTheAnsiCodePage) {
  EXPECT_EQ(AnsiToUtf8(""), "");
  EXPECT_EQ(AnsiToUtf8("[Ports] SMTPIn=25 ;x"), "[Ports] SMTPIn=25 ;x");
  switch (GetACP()) {
    case 1252:
      EXPECT_EQ(AnsiToUtf8("M\xE4il \x80"), "M\xC3\xA4il \xE2\x82\xAC");
      break;
    case CP_UTF8:
      EXPECT_EQ(AnsiToUtf8("M\xC3\xA4il"), "M\xC3\xA4il");
      EXPECT_EQ(AnsiToUtf8("M\xE4il"), "M\xEF\xBF\xBDil");
      break;
    default:
      GTEST_SKIP() << "code page " << GetACP() << " has no recorded sample";
  }
}

TEST(AnsiToUtf8Win32, FileWithoutMarkIsReadInTheAnsiCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "sample is for code page 1252";
  TTempDirectory Dir;
  const std::string Name = Dir.Write("Orvane.ini", "[Ports]\r\nSMTPIn=25 ;M\xE4il\r\n");
  TOrvane Orvane(SystemConfigFileSystem(), NoRegistry);
  std::vector<std::string> Lines;
  ASSERT_TRUE(Orvane.LoadConfigFile(Name, Lines));
  EXPECT_EQ(Lines, (std::vector<std::string>{"[Ports]", "SMTPIn=25 ;M\xC3\xA4il"}));
}

}  // namespace
