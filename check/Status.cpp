#include "check/Status.h"

TStatus WorstStatus(TStatus A, TStatus B) {
  auto Rank = [](TStatus Status) {
    return Status == ExitCritical ? 3 : Status == ExitUnknown ? 2 : static_cast<int>(Status);
  };
  return Rank(B) > Rank(A) ? B : A;
}

const char* StatusWord(TStatus Status) {
  switch (Status) {
    case ExitOk: return "OK";
    case ExitWarning: return "WARNING";
    case ExitCritical: return "CRITICAL";
    default: return "Unknown";
  }
}
