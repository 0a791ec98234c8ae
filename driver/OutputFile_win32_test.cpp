// The output file on the real Windows file system: paths, and a file that
// another process holds open while it is replaced.
#include "driver/OutputFile.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>

#include "common/WideText_win32.h"
#include "testing/TempDirectory_win32.h"

namespace {

std::string Content(const std::string& Path) {
  const HANDLE File = CreateFileW(WideFromUtf8(Path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (File == INVALID_HANDLE_VALUE) return "(cannot open)";
  char Buffer[256];
  DWORD Read = 0;
  ReadFile(File, Buffer, sizeof Buffer, &Read, nullptr);
  CloseHandle(File);
  return std::string(Buffer, Read);
}

std::set<std::string> Names(const std::string& Folder) {
  std::set<std::string> Found;
  WIN32_FIND_DATAW Entry;
  const HANDLE Search = FindFirstFileW(WideFromUtf8(Folder + "\\*").c_str(), &Entry);
  if (Search == INVALID_HANDLE_VALUE) return Found;
  do {
    const std::string Name = Utf8FromWideArray(Entry.cFileName);
    if (Name != "." && Name != "..") Found.insert(Name);
  } while (FindNextFileW(Search, &Entry));
  FindClose(Search);
  return Found;
}

TEST(OutputFileWin32, PathProblems) {
  TTempDirectory Dir;
  const std::string Plain = Dir.Write("plain.prom", "x");
  const struct {
    std::string Path, Problem;
  } Cases[] = {
      {"orvane.prom", "not an absolute path"},
      // On the current drive, or in that drive's current folder.
      {"\\orvane.prom", "not an absolute path"},
      {"C:orvane.prom", "not an absolute path"},
      {Dir.Path, "it is a directory"},
      {Dir.Path + "\\", "it is a directory"},
      {Plain + "\\orvane.prom", Plain + " is not a directory"},
      {Dir / "orvane.prom", ""},
      {Dir.Path + "/forward.prom", ""},
  };
  for (const auto& Case : Cases) EXPECT_EQ(OutputPathProblem(Case.Path), Case.Problem) << Case.Path;
  // The system's message follows the missing folder's name.
  const std::string Missing = Dir / "missing";
  EXPECT_EQ(OutputPathProblem(Missing + "\\orvane.prom").rfind(Missing + ": ", 0), 0u);
  EXPECT_EQ(Names(Dir.Path), std::set<std::string>{"plain.prom"}) << "a check writes nothing";
}

// Another process reads the file (a collector): with or without
// FILE_SHARE_DELETE it holds the file for a moment and lets go from another
// thread. The file is replaced after that, whole, under a name beyond ASCII,
// and no temporary file is left.
TEST(OutputFileWin32, HeldFileIsReplacedOnceReleased) {
  const struct {
    const char* Name;
    DWORD Share;
    bool MustWait;  // the system refuses to replace a file open without FILE_SHARE_DELETE
  } Cases[] = {
      {"ReadShared", FILE_SHARE_READ | FILE_SHARE_WRITE, true},
      {"DeleteShared", FILE_SHARE_READ | FILE_SHARE_DELETE, false},
  };
  for (const auto& Case : Cases) {
    TTempDirectory Dir;
    const std::string Path = Dir.Write("orvane-\xC3\xBC.prom", "old\n");
    const HANDLE Held = CreateFileW(WideFromUtf8(Path).c_str(), GENERIC_READ, Case.Share, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(Held, INVALID_HANDLE_VALUE) << Case.Name;
    std::atomic<bool> Released{false};
    std::thread Holder([&] {
      Sleep(300);
      Released = true;
      CloseHandle(Held);
    });
    const std::string Failure =
        ReplaceFileContent(Path, "new\n", std::chrono::steady_clock::now() + std::chrono::seconds(10));
    const bool ReleasedBefore = Released;
    Holder.join();
    EXPECT_EQ(Failure, "") << Case.Name;
    if (Case.MustWait) {
      EXPECT_TRUE(ReleasedBefore) << Case.Name << ": replaced while held";
    }
    EXPECT_EQ(Content(Path), "new\n") << Case.Name;
    EXPECT_EQ(Names(Dir.Path), std::set<std::string>{"orvane-\xC3\xBC.prom"}) << Case.Name;
  }
}

// Held past the deadline: the reason, the old content, no temporary file.
TEST(OutputFileWin32, FileHeldPastTheDeadline) {
  TTempDirectory Dir;
  const std::string Path = Dir.Write("orvane.prom", "old\n");
  const HANDLE Held = CreateFileW(WideFromUtf8(Path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(Held, INVALID_HANDLE_VALUE);
  const std::string Failure =
      ReplaceFileContent(Path, "new\n", std::chrono::steady_clock::now() + std::chrono::milliseconds(300));
  CloseHandle(Held);
  EXPECT_NE(Failure, "");
  EXPECT_EQ(Content(Path), "old\n");
  EXPECT_EQ(Names(Dir.Path), std::set<std::string>{"orvane.prom"});
}

}  // namespace
