// The program's entry on Windows: the command line in, text and exit status
// out.
#include <windows.h>

#include <string>
#include <vector>

#include "common/WideText_win32.h"
#include "driver/ProgramIo_win32.h"
#include "driver/RunningSystem.h"
#include "driver/Watchdog.h"
#include "driver/nagios_orvane_check.h"

namespace {

TTimeout Timeout;

// On the watchdog's thread: the run is over, whatever it is doing.
void Expire() {
  WriteStandardOutput(Timeout.Line);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(Timeout.Status));
  ExitProcess(static_cast<UINT>(Timeout.Status));
}

}  // namespace

int main() {
  RestrictLibrarySearch();
  std::vector<std::string> Arguments;
  std::string OwnPath;
  try {
    OwnPath = OwnExecutablePath();
    Arguments = ProgramArguments(GetCommandLineW(), WideFromUtf8(OwnPath));
  } catch (...) {
    WriteStandardOutput("Unknown - Unexpected failure\n");
    return ExitUnknown;
  }
  const TCommandLine CommandLine = ParseCommandLine(Arguments, OwnPath);
  Timeout = TimeoutOf(CommandLine);
  // Destroyed before main returns: when the time ran out, the watchdog's
  // write and exit are under way and main's status never counts.
  TWatchdog Watchdog(Timeout.Seconds, Expire);
  try {
    const TProgramResult Result = RunProgram(CommandLine, RunningSystem());
    if (Watchdog.Claim()) WriteStandardOutput(Result.Output);
    return Result.ExitStatus;
  } catch (...) {
    if (Watchdog.Claim()) WriteStandardOutput("Unknown - Unexpected failure\n");
    return ExitUnknown;
  }
}
