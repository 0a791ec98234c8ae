// The program's entry on Windows: the command line in, text and exit status
// out.
#include <windows.h>

#include "common/WideText_win32.h"
#include "driver/ProgramIo_win32.h"
#include "driver/RunningSystem.h"
#include "driver/nagios_orvane_check.h"

int main() {
  RestrictLibrarySearch();
  try {
    const std::string OwnPath = OwnExecutablePath();
    const TProgramResult Result = RunProgram(
        ProgramArguments(GetCommandLineW(), WideFromUtf8(OwnPath)), OwnPath, RunningSystem());
    WriteStandardOutput(Result.Output);
    return Result.ExitStatus;
  } catch (...) {
    WriteStandardOutput("Unknown - Unexpected failure\n");
    return ExitUnknown;
  }
}
