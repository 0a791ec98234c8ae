// The output file on the real Linux file system.
#include "driver/OutputFile.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "testing/TempDirectory_linux.h"

namespace {

std::string Content(const std::string& Path) {
  std::ifstream File(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(File), std::istreambuf_iterator<char>()};
}

std::set<std::string> Names(const std::string& Directory) {
  std::set<std::string> Found;
  for (const auto& Entry : std::filesystem::directory_iterator(Directory))
    Found.insert(Entry.path().filename().string());
  return Found;
}

const auto Soon = [] { return std::chrono::steady_clock::now() + std::chrono::seconds(5); };

TEST(OutputFileLinux, PathProblems) {
  TTempDirectory Dir;
  const std::string Plain = Dir.Write("plain.prom", "x");
  const struct {
    std::string Path, Problem;
  } Cases[] = {
      {"orvane.prom", "not an absolute path"},
      {"", "not an absolute path"},
      {Dir.Path + "/missing/orvane.prom", Dir.Path + "/missing: No such file or directory"},
      {Plain + "/orvane.prom", Plain + " is not a directory"},
      {Dir.Path, "it is a directory"},
      {Dir.Path + "/", "it is a directory"},
      {Dir.Path + "/orvane.prom", ""},
      {Plain, ""},
  };
  for (const auto& Case : Cases) EXPECT_EQ(OutputPathProblem(Case.Path), Case.Problem) << Case.Path;
  EXPECT_EQ(Names(Dir.Path), std::set<std::string>{"plain.prom"}) << "a check writes nothing";
}

// A reader that has the old file open keeps reading all of the old content;
// the name then holds all of the new one, readable by a collector of another
// user, and nothing else is left in the directory.
TEST(OutputFileLinux, ReplacesInOneStep) {
  TTempDirectory Dir;
  const std::string Path = Dir.Write("orvane.prom", "old content\n");
  const int Reader = open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(Reader, 0);
  const mode_t Mask = umask(022);
  const std::string Failure = ReplaceFileContent(Path, "new content\n", Soon());
  umask(Mask);
  EXPECT_EQ(Failure, "");
  char Buffer[64];
  const ssize_t Read = read(Reader, Buffer, sizeof Buffer);
  close(Reader);
  EXPECT_EQ(std::string(Buffer, Read > 0 ? Read : 0), "old content\n");
  EXPECT_EQ(Content(Path), "new content\n");
  struct stat Info;
  ASSERT_EQ(stat(Path.c_str(), &Info), 0);
  EXPECT_EQ(Info.st_mode & 0777, 0644u);
  EXPECT_EQ(Names(Dir.Path), std::set<std::string>{"orvane.prom"});
}

// A temporary file of a process that died with this one's id stays as it
// was; a failure halfway through the writing leaves no temporary file and
// the old content in place.
TEST(OutputFileLinux, TemporaryFilesNeverStay) {
  TTempDirectory Dir;
  const std::string Path = Dir.Write("orvane.prom", "old\n");
  const std::string Stale = Dir.Write("orvane.prom." + std::to_string(getpid()) + ".tmp", "stale");
  EXPECT_EQ(ReplaceFileContent(Path, "new\n", Soon()), "");
  EXPECT_EQ(Content(Path), "new\n");
  EXPECT_EQ(Content(Stale), "stale");
  std::filesystem::remove(Stale);

  // Files may grow to 8 bytes: the write stops there.
  struct rlimit Old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &Old), 0);
  const auto OldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit Small = Old;
  Small.rlim_cur = 8;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &Small), 0);
  const std::string Failure = ReplaceFileContent(Path, std::string(100, 'x'), Soon());
  setrlimit(RLIMIT_FSIZE, &Old);
  std::signal(SIGXFSZ, OldHandler);
  EXPECT_EQ(Failure, "File too large");
  EXPECT_EQ(Content(Path), "new\n");
  EXPECT_EQ(Names(Dir.Path), std::set<std::string>{"orvane.prom"});
}

// What main writes: nothing when the file took the output, one UNKNOWN line
// when it could not.
TEST(OutputFileLinux, PlaceOutput) {
  TTempDirectory Dir;
  TProgramResult Result("text\n", 2);
  EXPECT_EQ(PlaceOutput(Result, 0).Output, "text\n") << "no output file: standard output";

  Result.OutputFile = Dir.Path + "/orvane.prom";
  const TProgramResult Placed = PlaceOutput(Result, 10);
  EXPECT_EQ(Placed.Output, "");
  EXPECT_EQ(Placed.ExitStatus, 2);
  EXPECT_EQ(Content(Result.OutputFile), "text\n");

  std::filesystem::remove_all(Dir.Path);
  const TProgramResult Failed = PlaceOutput(Result, 0);
  EXPECT_EQ(Failed.Output, "Unknown - Can not write " + Result.OutputFile + ": " + Dir.Path +
                               ": No such file or directory\n");
  EXPECT_EQ(Failed.ExitStatus, 3);
}

}  // namespace
