// Starting and talking to child processes in tests: the built program, and
// stand-ins for the mail server's processes. Program names and arguments are
// UTF-8. On Windows an argument holding blanks is put in quotes as they stand,
// without escapes, which is how the check program splits its command line; an
// argument holding a quote is refused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TCommandResult {
  std::string Out;
  std::string Err;
  int ExitStatus = -1;  // -1 when the process did not end by exit (a signal, or killed)
};

// Runs Program with Arguments to its end, with no descriptor open but the
// standard streams, collecting standard output and standard error.
// Environment entries "NAME=value" replace or add to the inherited ones.
// With CloseStdout, standard output is a pipe nobody reads. A program still
// running after 20 seconds (60 under Wine, whose start-up is slower) is
// killed.
TCommandResult RunCommand(const std::string& Program, const std::vector<std::string>& Arguments,
                          const std::vector<std::string>& Environment = {},
                          bool CloseStdout = false);

// Inherited ("NAME=value" entries) with each of Additions put in place of its
// namesake, or added.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& Inherited,
                                           const std::vector<std::string>& Additions);

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
  // Appends what the child has written to Pending, waiting at most TimeoutMs
  // for it; false once its output has ended.
  bool ReadMore(int TimeoutMs);

  int ChildPid = -1;
  // The ends this object holds: descriptors on Linux, handles on Windows.
  std::intptr_t Input = -1;
  std::intptr_t Output = -1;
  std::intptr_t Process = -1;  // Windows: the process handle
  std::string Pending;
};
