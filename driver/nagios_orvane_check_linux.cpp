// The program's entry on Linux: arguments in, text and exit status out.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "common/FileDescriptor_linux.h"
#include "common/TextCodec.h"
#include "driver/OutputFile.h"
#include "driver/RunningSystem.h"
#include "driver/Watchdog.h"
#include "driver/nagios_orvane_check.h"

namespace {

// The path the system reports for this process's executable, not what was typed.
std::string OwnExecutablePath() {
  std::vector<char> Buffer(4096);
  for (;;) {
    const ssize_t Length = readlink("/proc/self/exe", Buffer.data(), Buffer.size());
    if (Length < 0) return std::string();
    if (static_cast<size_t>(Length) < Buffer.size()) return std::string(Buffer.data(), Length);
    if (Buffer.size() >= (size_t(1) << 20)) return std::string();
    Buffer.resize(Buffer.size() * 2);
  }
}

// A closed or failing standard output ends the writing; the status still
// counts.
void WriteAll(const char* Text, size_t Size) { WriteWhole(STDOUT_FILENO, Text, Size); }

TTimeout Timeout;

// On the watchdog's thread: the run is over, whatever it is doing.
void Expire() {
  if (!PlaceTimeout(Timeout)) WriteAll(Timeout.Line.data(), Timeout.Line.size());
  _exit(Timeout.Status);
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that went away must not kill the check by a signal.
  std::signal(SIGPIPE, SIG_IGN);
  static const char Failed[] = "Unknown - Unexpected failure\n";
  std::vector<std::string> Arguments;
  try {
    // Arguments are taken as the bytes they are: a Linux path need not be
    // UTF-8, and must reach open() unchanged to name the same file.
    Arguments.assign(argv + 1, argv + argc);
  } catch (...) {
    WriteAll(Failed, sizeof Failed - 1);
    return ExitUnknown;
  }
  const TCommandLine CommandLine = ParseCommandLine(Arguments, SanitizeUtf8(OwnExecutablePath()));
  Timeout = TimeoutOf(CommandLine);
  // Destroyed before main returns: when the time ran out, the watchdog's
  // write and exit are under way and main's status never counts.
  TWatchdog Watchdog;
  // A timeout that cannot be kept (no thread to be had: a full pids limit,
  // too little address space) ends the run before it starts.
  if (const std::error_code Failure = Watchdog.Arm(Timeout.Seconds, Expire)) {
    std::string Line;
    try {
      Line = TimeoutFailureLine(Failure);
    } catch (...) {
      Line.clear();
    }
    if (Line.empty())
      WriteAll(TimeoutFailureFallback, std::strlen(TimeoutFailureFallback));
    else
      WriteAll(Line.data(), Line.size());
    return ExitUnknown;
  }
  try {
    TProgramResult Result = RunProgram(CommandLine, RunningSystem());
    if (Watchdog.Claim()) {
      // After the claim: a timeout no longer cuts the file's replacement short.
      Result = PlaceOutput(std::move(Result), Timeout.Seconds);
      WriteAll(Result.Output.data(), Result.Output.size());
    }
    return Result.ExitStatus;
  } catch (...) {
    if (Watchdog.Claim()) WriteAll(Failed, sizeof Failed - 1);
    return ExitUnknown;
  }
}
