// The built program as Nagios runs it: a child process with arguments and an
// environment, judged by its standard output, standard error and exit status.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "driver/nagios_orvane_check.h"
#include "common/TextCodec.h"
#include "testing/CheckOutput.h"
#include "testing/ChildProcess.h"
#include "testing/TempDirectory_linux.h"

namespace {

const char* const NoRegistry = "ORVANE_REGISTRY_FILE=/nonexistent/nagios_orvane_check.reg";

TCommandResult RunProgramProcess(const std::vector<std::string>& Arguments,
                                 const std::vector<std::string>& Environment,
                                 bool CloseStdout = false) {
  return RunCommand(ORVANE_PROGRAM, Arguments, Environment, CloseStdout);
}

std::string ProgramPath() {
  char Resolved[PATH_MAX];
  return realpath(ORVANE_PROGRAM, Resolved) ? std::string(Resolved) : std::string();
}

struct TProcessCase {
  const char* Name;
  std::vector<std::string> Arguments;
  std::string Output;  // "@usage" stands for the usage text
  int Status;
};
// Test names, not bytes, in the test listing.
void PrintTo(const TProcessCase& Case, std::ostream* Out) { *Out << Case.Name; }

class NagiosOrvaneCheckProcess : public ::testing::TestWithParam<TProcessCase> {};

TEST_P(NagiosOrvaneCheckProcess, OutputAndStatus) {
  const TCommandResult Child = RunProgramProcess(GetParam().Arguments, {NoRegistry});
  std::string Expected = GetParam().Output;
  const std::string Usage = "@usage";
  if (Expected.compare(0, Usage.size(), Usage) == 0)
    Expected = UsageText(ProgramPath()) + Expected.substr(Usage.size());
  EXPECT_EQ(Child.Out, Expected);
  EXPECT_EQ(Child.Err, "");
  EXPECT_EQ(Child.ExitStatus, GetParam().Status);
}

INSTANTIATE_TEST_SUITE_P(
    NagiosOrvaneCheck, NagiosOrvaneCheckProcess,
    ::testing::Values(
        TProcessCase{"Help", {"-h"}, "@usage", 0},
        TProcessCase{"Version", {"--version"}, "Orvane Check Plugin for Nagios v1.0/Win32\n", 0},
        TProcessCase{"MissingBoth", {}, "@usage\nError:\nMissing parameter \"w\" \"c\" \n", 3},
        TProcessCase{"UnknownOption", {"-h", "-x"}, "Unknown parameter x\n", 3}),
    [](const ::testing::TestParamInfo<TProcessCase>& Info) {
      return std::string(Info.param.Name);
    });

TEST(NagiosOrvaneCheckProcessSignals, ClosedOutputIsNoCrash) {
  const TCommandResult Child = RunProgramProcess({"-h"}, {NoRegistry}, true);
  EXPECT_EQ(Child.ExitStatus, 0) << "ended by a signal";
  EXPECT_EQ(Child.Err, "");
}

class NagiosOrvaneCheckProcessFiles : public ::testing::Test {
protected:
  TTempDirectory Dir;
  const std::string Root = Dir.Path;

  void Write(const std::string& Name, const std::string& Text) { Dir.Write(Name.substr(1), Text); }
  void Installation() {
    Write("/App/Orvane.ini", "[Ports]\nSMTPIn=25\n");
    Write("/Lumicourt/Lumicourt.ini", "[WebServer]\nPort=3000\n");
    Write("/Helmstead/Helmstead.ini", "");
  }
  std::string Registry(const std::string& AppPathData) {
    Write("/registry.reg",
          "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix Technologies\\Orvane]\n"
          "\"AppPath\"=" + AppPathData + "\n");
    return "ORVANE_REGISTRY_FILE=" + Root + "/registry.reg";
  }
};

// The program under limits that an agent or a container may set. Whatever
// they are, the answer is one line on standard output and nothing on
// standard error.
class NagiosOrvaneCheckProcessLimits : public NagiosOrvaneCheckProcessFiles {
protected:
  void SetUp() override {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizers' runtime needs more address space, stack and descriptors "
                    "than these limits leave";
#endif
    if (access(Prlimit, X_OK) != 0) GTEST_SKIP() << Prlimit << " is missing";
  }
  TCommandResult RunLimited(const std::string& Limit, const std::vector<std::string>& Arguments,
                            const std::string& Environment) {
    std::vector<std::string> Command = {Limit, ORVANE_PROGRAM};
    Command.insert(Command.end(), Arguments.begin(), Arguments.end());
    return RunCommand(Prlimit, Command, {Environment});
  }
  // Realistic configuration text of about Size bytes: mostly comments and
  // blank lines, as in a commented sample file.
  static std::string CommentedConfiguration(size_t Size) {
    std::string Text = "[Ports]\r\nSMTPIn=25\r\n";
    while (Text.size() < Size) Text += "; note\r\n\r\nKey=Value\r\n";
    return Text;
  }
  static constexpr const char* Prlimit = "/usr/bin/prlimit";
  static constexpr const char* Setpriv = "/usr/bin/setpriv";
};

// Large files within the size limit are read in a small multiple of their
// size: 12 MiB files fit in 48 MiB of address space.
TEST_F(NagiosOrvaneCheckProcessLimits, LargeFilesFitInLittleMemory) {
  const std::string Limit = "--as=" + std::to_string(48 << 20);
  Installation();
  Write("/Big/Orvane.ini", CommentedConfiguration(12 << 20));
  Write("/Lumicourt/Lumicourt.ini", "[WebServer]\nPort=3000\n");
  Write("/Helmstead/Helmstead.ini", "");
  EXPECT_TRUE(Answers(
      RunLimited(Limit, {"-w", "0", "-c", "0", "-r", "0", "-p", Root + "/Big/"}, NoRegistry)));

  // A registry export of many keys, in UTF-16 as the registry editor writes it.
  std::u16string Text = u"Windows Registry Editor Version 5.00\r\n\r\n";
  for (int Index = 0; Text.size() < (6 << 20); ++Index) {
    const std::string Number = std::to_string(Index);
    Text += u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product" +
            std::u16string(Number.begin(), Number.end()) + u"]\r\n\"Setting\"=\"value\"\r\n\r\n";
  }
  const std::string App = Root + "/App/";
  Text += u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix Technologies\\Orvane]\r\n\"AppPath\"=\"" +
          std::u16string(App.begin(), App.end()) + u"\"\r\n";
  std::string Bytes = "\xFF\xFE";
  for (char16_t Unit : Text) Bytes += {char(Unit & 0xFF), char(Unit >> 8)};
  Write("/registry.reg", Bytes);
  EXPECT_TRUE(Answers(RunLimited(Limit, {"-w", "0", "-c", "0", "-r", "0"},
                                 "ORVANE_REGISTRY_FILE=" + Root + "/registry.reg")));
}

TEST_F(NagiosOrvaneCheckProcessLimits, TightStackAndDescriptorLimits) {
  Installation();
  const std::string App = Root + "/App/";
  const std::pair<const char*, std::string> LimitsAndUnknowns[] = {
      // Buffers live on the heap: a small stack is enough.
      {"--stack=65536", ""},
      // Only the standard streams: nothing can be opened, not even a shared
      // library, but the answer is still one line.
      {"--nofile=3", App + "Orvane.ini"},
      // Enough for the files, not for the process names: a list that would
      // miss the server is no list.
      {"--nofile=4", "/proc/1/comm: Too many open files"},
  };
  for (const auto& [Limit, Unknown] : LimitsAndUnknowns)
    EXPECT_TRUE(Answers(RunLimited(Limit, {"-w", "0", "-c", "0", "-r", "0", "-p", App}, NoRegistry),
                        Unknown))
        << Limit;
}

// The timeout takes a thread of its own. Where none can be had (a full pids
// limit: the user may have one process, the check itself), -t never aborts:
// the run says so on one line. Without -t the run needs no thread.
TEST_F(NagiosOrvaneCheckProcessLimits, TimeoutWithoutAThreadIsUnknown) {
  Installation();
  ASSERT_EQ(chmod(Root.c_str(), 0755), 0);
  const std::string App = Root + "/App/";
  std::string Program = Prlimit;
  std::vector<std::string> Command = {"--nproc=1", ORVANE_PROGRAM, "-w", "0", "-c", "0", "-r", "0",
                                      "-p", App};
  if (geteuid() == 0) {
    // Root is not held by the limit: the check runs as a user of its own,
    // which no other process on the machine counts against.
    if (access(Setpriv, X_OK) != 0) GTEST_SKIP() << Setpriv << " is missing";
    const std::string User = std::to_string(2000000000 + getpid() % 1000000);
    Command.insert(Command.begin(), {"--reuid=" + User, "--regid=" + User, "--clear-groups", "--",
                                     Prlimit});
    Program = Setpriv;
  }
  const auto Run = [&](const std::vector<std::string>& More) {
    std::vector<std::string> All = Command;
    All.insert(All.end(), More.begin(), More.end());
    return RunCommand(Program, All, {NoRegistry});
  };
  for (const char* Timeout : {"10", "1:critical"}) {
    const TCommandResult Unarmed = Run({"-t", Timeout});
    EXPECT_EQ(Unarmed.Out, "Unknown - Can not start the timeout: Resource temporarily unavailable\n")
        << Unarmed.Err;
    EXPECT_EQ(Unarmed.Err, "");
    EXPECT_EQ(Unarmed.ExitStatus, 3);
  }
  EXPECT_TRUE(Answers(Run({})));
}

// A directory name that is not UTF-8 ("caf" and Latin-1 e-acute) names the
// same directory all the way to the files and into the messages.
TEST_F(NagiosOrvaneCheckProcessFiles, PathsAreBytes) {
  const std::string Cafe = "/caf\xE9";
  Write(Cafe + "/App/Orvane.ini", "[Ports]\nSMTPIn=25\n");
  Write(Cafe + "/Lumicourt/Lumicourt.ini", "");
  Write(Cafe + "/Helmstead/Helmstead.ini", "");
  const std::string Dir = Root + Cafe;
  EXPECT_TRUE(Answers(RunProgramProcess({"-w", "5", "-c", "6", "-r", "0", "-p", Dir + "/App/"}, {NoRegistry})));
  // The file is opened by its bytes; the message names it in UTF-8, which
  // every consumer of the output expects.
  EXPECT_TRUE(Answers(RunProgramProcess({"-w", "5", "-c", "6", "-r", "0", "-p", Dir + "/Absent/"}, {NoRegistry}),
                      SanitizeUtf8(Dir) + "/Absent/Orvane.ini"));
}

TEST_F(NagiosOrvaneCheckProcessFiles, RegistryFailureIsUnknown) {
  const TCommandResult Child = RunProgramProcess({"-w", "5", "-c", "6"}, {Registry("dword:00000001")});
  EXPECT_EQ(Child.Out, "Unknown - Invalid data type for 'AppPath'\n");
  EXPECT_EQ(Child.Err, "");
  EXPECT_EQ(Child.ExitStatus, 3);
}

// No process of the mail server runs on the test machine: a complete check
// that counts nothing.
TEST_F(NagiosOrvaneCheckProcessFiles, CompleteCheckFromTheRegistryPath) {
  Installation();
  EXPECT_TRUE(
      Answers(RunProgramProcess({"-w", "5", "-c", "6"}, {Registry("\"" + Root + "/App/\"")})));
}

}  // namespace
