#include "check/CheckResult.h"

TCheckResult FailedResult(const std::string& Reason) {
  TCheckResult Result;
  Result.Status = ExitUnknown;
  Result.Failure = Reason;
  return Result;
}
