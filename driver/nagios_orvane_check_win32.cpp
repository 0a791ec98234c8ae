// The program's entry on Windows: the command line in, text and exit status
// out.
#include <windows.h>

#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "common/WideText_win32.h"
#include "driver/OutputFile.h"
#include "driver/ProgramIo_win32.h"
#include "driver/RunningSystem.h"
#include "driver/Watchdog.h"
#include "driver/nagios_orvane_check.h"

namespace {

const char Failed[] = "Unknown - Unexpected failure\n";

TTimeout Timeout;
// The timeout's line in the bytes it goes out as, made before the watchdog
// is armed: writing it allocates nothing.
TPreparedOutput TimeoutOutput;

// On the watchdog's thread: the run is over, whatever it is doing.
void Expire() {
  if (!PlaceTimeout(Timeout)) WritePreparedOutput(TimeoutOutput);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(Timeout.Status));
  ExitProcess(static_cast<UINT>(Timeout.Status));
}

}  // namespace

int main() {
  // Before anything else is loaded or opened: a drive that is not ready
  // must fail the call, not wait for a click on a box nobody sees.
  KeepSystemErrorDialogsAway();
  RestrictLibrarySearch();
  TCommandLine CommandLine;
  try {
    const std::string OwnPath = OwnExecutablePath();
    CommandLine = ParseCommandLine(ProgramArguments(GetCommandLineW(), WideFromUtf8(OwnPath)), OwnPath);
    Timeout = TimeoutOf(CommandLine);
    TimeoutOutput = PrepareOutput(Timeout.Line, Timeout.Verbatim);
  } catch (...) {
    WriteAsciiLine(Failed);
    return ExitUnknown;
  }
  // Destroyed before main returns: when the time ran out, the watchdog's
  // write and exit are under way and main's status never counts. Armed, it
  // waits before the run goes on: a thread started later could be held up by
  // the loader, which the run may keep busy.
  TWatchdog Watchdog;
  // A timeout that cannot be kept (no thread to be had) ends the run before
  // it starts.
  if (const std::error_code Failure = Watchdog.Arm(Timeout.Seconds, Expire)) {
    try {
      WriteStandardOutput(TimeoutFailureLine(Failure));
    } catch (...) {
      WriteAsciiLine(TimeoutFailureFallback);
    }
    return ExitUnknown;
  }
  bool Claimed = false;
  try {
    TProgramResult Result = RunProgram(CommandLine, RunningSystem());
    Claimed = Watchdog.Claim();
    if (Claimed) {
      // After the claim: a timeout no longer cuts the file's replacement short.
      Result = PlaceOutput(std::move(Result), Timeout.Seconds);
      // Made ready before anything is written: a failure leaves no half output.
      WriteStandardOutput(Result.Output, Result.Verbatim);
    }
    return Result.ExitStatus;
  } catch (...) {
    if (Claimed || Watchdog.Claim()) WriteAsciiLine(Failed);
    return ExitUnknown;
  }
}
