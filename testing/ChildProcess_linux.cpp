#include "testing/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace {

size_t EnvironmentSize() {
  size_t n = 0;
  while (environ[n]) ++n;
  return n;
}

std::vector<char*> Argv(const std::string& Program, const std::vector<std::string>& Arguments) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(Program.c_str()));
  for (const std::string& a : Arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// Reads both pipes to their ends without letting either fill up; false when
// the deadline passed first.
bool Drain(int out, int err, std::string& outText, std::string& errText,
           std::chrono::steady_clock::time_point deadline) {
  pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
  std::string* texts[2] = {&outText, &errText};
  int open = (out >= 0) + (err >= 0);
  while (open > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    if (poll(fds, 2, int(left)) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[65536];
      ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        texts[i]->append(buffer, size_t(got));
      } else if (got == 0 || errno != EINTR) {
        fds[i].fd = -1;  // the caller closes it
        --open;
      }
    }
  }
  return true;
}

}  // namespace

TCommandResult RunCommand(const std::string& Program, const std::vector<std::string>& Arguments,
                          const std::vector<std::string>& Environment, bool CloseStdout) {
  TCommandResult result;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return result;
  std::vector<char*> argv = Argv(Program, Arguments);
  std::vector<std::string> environment =
      MergedEnvironment(std::vector<std::string>(environ, environ + EnvironmentSize()), Environment);
  std::vector<char*> envp;
  for (std::string& e : environment) envp.push_back(&e[0]);
  envp.push_back(nullptr);

  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    // Only the standard streams, as a monitoring agent starts a check: a
    // descriptor the test runner left open must not count against limits.
    close_range(3, ~0u, 0);
    // The test runner may ignore SIGPIPE; the program must cope on its own.
    signal(SIGPIPE, SIG_DFL);
    execve(Program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  if (CloseStdout) {
    close(out[0]);
    out[0] = -1;
  }
  if (!Drain(out[0], err[0], result.Out, result.Err,
             std::chrono::steady_clock::now() + std::chrono::seconds(20)))
    kill(pid, SIGKILL);
  for (int fd : {out[0], err[0]})
    if (fd >= 0) close(fd);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.ExitStatus = WEXITSTATUS(status);
  return result;
}

TChildProcess::TChildProcess(const std::string& Program, const std::vector<std::string>& Arguments) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
  std::vector<char*> argv = Argv(Program, Arguments);
  ChildPid = fork();
  if (ChildPid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    execv(Program.c_str(), argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  Input = in[1];
  Output = out[0];
}

TChildProcess::~TChildProcess() {
  if (Input >= 0) close(int(Input));
  if (Output >= 0) close(int(Output));
  if (ChildPid > 0) {
    kill(ChildPid, SIGTERM);
    waitpid(ChildPid, nullptr, 0);
  }
}

bool TChildProcess::ReadMore(int TimeoutMs) {
  pollfd fd{int(Output), POLLIN, 0};
  if (poll(&fd, 1, TimeoutMs) <= 0) return true;
  char buffer[4096];
  ssize_t got = read(int(Output), buffer, sizeof buffer);
  if (got == 0) return false;
  if (got > 0) Pending.append(buffer, size_t(got));
  return true;
}
