// Starting and talking to child processes in Linux tests: the built program,
// and stand-ins for the mail server's processes.
#pragma once

#include <string>
#include <vector>

struct TCommandResult {
  std::string Out;
  std::string Err;
  int ExitStatus = -1;  // -1 when the process did not end by exit (a signal, or killed)
};

// Runs Program with Arguments to its end, with no descriptor open but the
// standard streams, collecting standard output and standard error. Environment entries "NAME=value" replace or add to the
// inherited ones. With CloseStdout, standard output is a pipe nobody reads.
// A program still running after 20 seconds is killed.
TCommandResult RunCommand(const std::string& Program, const std::vector<std::string>& Arguments,
                          const std::vector<std::string>& Environment = {},
                          bool CloseStdout = false);

// A long-running child whose standard input is held open by this object and
// whose standard output is read line by line. The child is ended (stdin
// closed, then killed) when the object goes.
class TChildProcess {
public:
  TChildProcess(const std::string& Program, const std::vector<std::string>& Arguments);
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  int Pid() const { return ChildPid; }
  // Reads lines until one equals Line; false at end of output or after
  // TimeoutMs without it.
  bool AwaitLine(const std::string& Line, int TimeoutMs = 10000);

private:
  int ChildPid = -1;
  int Input = -1;
  int Output = -1;
  std::string Pending;
};
