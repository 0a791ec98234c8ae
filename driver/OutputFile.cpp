#include "driver/OutputFile.h"

#include <utility>

namespace {

// Set when the program's objects are made, before main: the -t budget runs
// from here, as the watchdog's does.
const std::chrono::steady_clock::time_point ProgramStart = std::chrono::steady_clock::now();

// Without -t a held file is waited for this long.
constexpr std::chrono::seconds HeldFileWait(5);

// After -t ran out a held file is waited for this long: the time is up.
constexpr std::chrono::seconds TimedOutWait(1);

}  // namespace

TProgramResult PlaceOutput(TProgramResult Result, int TimeoutSeconds) {
  if (Result.OutputFile.empty()) return Result;
  const auto Deadline = TimeoutSeconds > 0 ? ProgramStart + std::chrono::seconds(TimeoutSeconds)
                                           : std::chrono::steady_clock::now() + HeldFileWait;
  try {
    const std::string Failure = ReplaceFileContent(Result.OutputFile, Result.Output, Deadline);
    if (!Failure.empty()) return UnknownResult("Can not write " + Result.OutputFile + ": " + Failure);
  } catch (...) {
    // Standard output is claimed: the failure must still say something there.
    return UnknownResult("Can not write " + Result.OutputFile + ": Out of memory");
  }
  Result.Output.clear();
  return Result;
}

bool PlaceTimeout(const TTimeout& Timeout) {
  if (Timeout.OutputFile.empty()) return false;
  try {
    return ReplaceFileContent(Timeout.OutputFile, Timeout.FileText,
                              std::chrono::steady_clock::now() + TimedOutWait)
        .empty();
  } catch (...) {
    return false;
  }
}
