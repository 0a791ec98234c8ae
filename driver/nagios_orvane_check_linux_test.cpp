// The built program as Nagios runs it: a child process with arguments and an
// environment, judged by its standard output, standard error and exit status.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "driver/nagios_orvane_check.h"

namespace {

struct TChild {
  std::string Out, Err;
  bool Exited = false;  // ended normally, not by a signal
  int Status = -1;
};

const char* const NoRegistry = "ORVANE_REGISTRY_FILE=/nonexistent/nagios_orvane_check.reg";

// Runs the program with Arguments and the given environment. With
// CloseStdout, its standard output is a pipe nobody reads.
TChild RunProgramProcess(const std::vector<std::string>& Arguments,
                         const std::vector<std::string>& Environment, bool CloseStdout = false) {
  TChild Child;
  int Out[2], Err[2];
  if (pipe(Out) != 0 || pipe(Err) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return Child;
  }
  std::vector<std::string> Argv = {ORVANE_PROGRAM};
  Argv.insert(Argv.end(), Arguments.begin(), Arguments.end());
  std::vector<char*> ArgvPointers, EnvPointers;
  for (auto& Text : Argv) ArgvPointers.push_back(const_cast<char*>(Text.c_str()));
  ArgvPointers.push_back(nullptr);
  std::vector<std::string> Env = Environment;
  Env.push_back("PATH=/usr/bin:/bin");
  for (auto& Text : Env) EnvPointers.push_back(const_cast<char*>(Text.c_str()));
  EnvPointers.push_back(nullptr);

  const pid_t Pid = fork();
  if (Pid == 0) {
    dup2(Out[1], STDOUT_FILENO);
    dup2(Err[1], STDERR_FILENO);
    close(Out[0]);
    close(Out[1]);
    close(Err[0]);
    close(Err[1]);
    // A SIGPIPE that the test runner ignores would hide the program's own handling.
    signal(SIGPIPE, SIG_DFL);
    execve(ArgvPointers[0], ArgvPointers.data(), EnvPointers.data());
    _exit(127);
  }
  close(Out[1]);
  close(Err[1]);
  if (CloseStdout) {
    close(Out[0]);
    Out[0] = -1;
  }

  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::string* Targets[2] = {&Child.Out, &Child.Err};
  int Fds[2] = {Out[0], Err[0]};
  while (Fds[0] >= 0 || Fds[1] >= 0) {
    pollfd Polled[2] = {{Fds[0], POLLIN, 0}, {Fds[1], POLLIN, 0}};
    const int Ready = poll(Polled, 2, 200);
    if (Ready < 0 && errno != EINTR) break;
    if (std::chrono::steady_clock::now() > Deadline) {
      kill(Pid, SIGKILL);
      ADD_FAILURE() << "the program did not end";
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (Fds[i] < 0 || Polled[i].revents == 0) continue;
      char Buffer[4096];
      const ssize_t Got = read(Fds[i], Buffer, sizeof Buffer);
      if (Got > 0) {
        Targets[i]->append(Buffer, size_t(Got));
      } else if (Got == 0 || errno != EINTR) {
        close(Fds[i]);
        Fds[i] = -1;
      }
    }
  }
  for (int Fd : Fds)
    if (Fd >= 0) close(Fd);
  int Status = 0;
  while (waitpid(Pid, &Status, 0) < 0 && errno == EINTR) {
  }
  Child.Exited = WIFEXITED(Status);
  Child.Status = Child.Exited ? WEXITSTATUS(Status) : -1;
  return Child;
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

class NagiosOrvaneCheckProcess : public ::testing::TestWithParam<TProcessCase> {};

TEST_P(NagiosOrvaneCheckProcess, OutputAndStatus) {
  const TChild Child = RunProgramProcess(GetParam().Arguments, {NoRegistry});
  std::string Expected = GetParam().Output;
  const std::string Usage = "@usage";
  if (Expected.compare(0, Usage.size(), Usage) == 0)
    Expected = UsageText(ProgramPath()) + Expected.substr(Usage.size());
  EXPECT_EQ(Child.Out, Expected);
  EXPECT_EQ(Child.Err, "");
  EXPECT_TRUE(Child.Exited);
  EXPECT_EQ(Child.Status, GetParam().Status);
}

INSTANTIATE_TEST_SUITE_P(
    NagiosOrvaneCheck, NagiosOrvaneCheckProcess,
    ::testing::Values(
        TProcessCase{"Help", {"-h"}, "@usage", 0},
        TProcessCase{"Version", {"--version"}, "Orvane Check Plugin for Nagios v1.0/Win32\n", 0},
        TProcessCase{"MissingBoth", {}, "@usage\nError:\nMissing parameter \"w\" \"c\" \n", 3},
        TProcessCase{"MissingCritical", {"-w", "10"},
                     "@usage\nError:\nMissing parameter \"c\" \n", 3},
        TProcessCase{"UnknownOption", {"-h", "-x"}, "Unknown parameter x\n", 3},
        TProcessCase{"ValueForAFlag", {"--help=1"}, "Wrong value for parameter help\n", 3},
        TProcessCase{"ValueMissing", {"-w", "5", "-c", "6", "-p"}, "Param p needs a value\n",
                     3},
        TProcessCase{"UnreadableConfiguration",
                     {"-w", "5", "-c", "6", "-r", "0", "-p", "/nonexistent/orvane/App/"},
                     "Unknown - Can not read /nonexistent/orvane/App/Orvane.ini\n", 3}),
    [](const ::testing::TestParamInfo<TProcessCase>& Info) {
      return std::string(Info.param.Name);
    });

TEST(NagiosOrvaneCheckProcessSignals, ClosedOutputIsNoCrash) {
  const TChild Child = RunProgramProcess({"-h"}, {NoRegistry}, true);
  EXPECT_TRUE(Child.Exited) << "ended by a signal";
  EXPECT_EQ(Child.Status, 0);
  EXPECT_EQ(Child.Err, "");
}

class NagiosOrvaneCheckProcessFiles : public ::testing::Test {
protected:
  std::string Root;

  void SetUp() override {
    char Template[] = "/tmp/nagios_orvane_check_test.XXXXXX";
    ASSERT_NE(mkdtemp(Template), nullptr);
    Root = Template;
  }
  void TearDown() override {
    for (const char* File : {"/App/Orvane.ini", "/Lumicourt/Lumicourt.ini",
                             "/Helmstead/Helmstead.ini", "/registry.reg"})
      unlink((Root + File).c_str());
    for (const char* Directory : {"/App", "/Lumicourt", "/Helmstead", ""})
      rmdir((Root + Directory).c_str());
  }
  void Write(const std::string& Name, const std::string& Text) {
    std::ofstream(Root + Name, std::ios::binary) << Text;
  }
  void Installation() {
    for (const char* Directory : {"/App", "/Lumicourt", "/Helmstead"})
      mkdir((Root + Directory).c_str(), 0700);
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

TEST_F(NagiosOrvaneCheckProcessFiles, RegistryFailureIsUnknown) {
  const TChild Child = RunProgramProcess({"-w", "5", "-c", "6"}, {Registry("dword:00000001")});
  EXPECT_EQ(Child.Out, "Unknown - Invalid data type for 'AppPath'\n");
  EXPECT_EQ(Child.Err, "");
  EXPECT_EQ(Child.Status, 3);
}

// No process of the mail server runs on the test machine: a complete check
// that counts nothing.
TEST_F(NagiosOrvaneCheckProcessFiles, CompleteCheckFromTheRegistryPath) {
  Installation();
  const TChild Child =
      RunProgramProcess({"-w", "5", "-c", "6"}, {Registry("\"" + Root + "/App/\"")});
  EXPECT_EQ(Child.Out,
            "OK - Connections=0 Smtp=0 Pop=0 Imap=0 Lumicourt=0 Helmstead=0|Connections=0 "
            "SmtpIn=0 SmtpOut=0 SmtpSSL=0 SmtpTotal=0 PopIn=0 PopOut=0 PopSSL=0 PopTotal=0 "
            "ImapIn=0 ImapSSL=0 ImapTotal=0 Other=0 LCin=0 LCSSL=0 LCTotal=0 HSin=0 HSSSL=0 "
            "HSTotal=0\n");
  EXPECT_EQ(Child.Err, "");
  EXPECT_EQ(Child.Status, 0);
}

}  // namespace
