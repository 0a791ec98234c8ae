#include "tools/ChildProcess.h"

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

std::vector<char*> Argv(const std::string& Program, const std::vector<std::string>& Arguments) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(Program.c_str()));
  for (const std::string& a : Arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// Reads both pipes to their ends without letting either fill up.
void Drain(int out, int err, std::string& outText, std::string& errText) {
  pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
  std::string* texts[2] = {&outText, &errText};
  int open = 2;
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
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
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

}  // namespace

TCommandResult RunCommand(const std::string& Program, const std::vector<std::string>& Arguments,
                          const std::vector<std::string>& Environment) {
  TCommandResult result;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return result;
  std::vector<char*> argv = Argv(Program, Arguments);
  std::vector<char*> envp;
  for (char** e = environ; *e; ++e) envp.push_back(*e);
  for (const std::string& e : Environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    execve(Program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  Drain(out[0], err[0], result.Out, result.Err);
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
  if (Input >= 0) close(Input);
  if (Output >= 0) close(Output);
  if (ChildPid > 0) {
    kill(ChildPid, SIGTERM);
    waitpid(ChildPid, nullptr, 0);
  }
}

bool TChildProcess::AwaitLine(const std::string& Line, int TimeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  for (;;) {
    for (size_t end; (end = Pending.find('\n')) != std::string::npos;) {
      std::string line = Pending.substr(0, end);
      Pending.erase(0, end + 1);
      if (line == Line) return true;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    pollfd fd{Output, POLLIN, 0};
    if (poll(&fd, 1, int(left)) <= 0) continue;
    char buffer[4096];
    ssize_t got = read(Output, buffer, sizeof buffer);
    if (got == 0) return false;
    if (got > 0) Pending.append(buffer, size_t(got));
  }
}
