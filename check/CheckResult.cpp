#include "check/CheckResult.h"

TCheckResult FailedResult(const std::string& Reason) {
  TCheckResult Result;
  Result.Status = ExitUnknown;
  Result.Failure = Reason;
  return Result;
}

std::vector<TLabelledMeasure> LabelledMeasures(const TCheckResult& Result) {
  std::vector<TLabelledMeasure> Measures;
  for (const TSourceMeasure& Source : Result.Sources) {
    const std::string Label = CounterRows[Source.Category].Label;
    Measures.push_back({Label + "MaxPerSrc", Source.Category, Source.Busiest});
    TMeasure Sources;
    Sources.Count = Source.Sources;
    Measures.push_back({Label + "Sources", Source.Category, Sources});
  }
  for (const TStateMeasure& State : Result.States)
    Measures.push_back({CounterRows[State.Category].Label + std::string(ServiceStateNames[int(State.State)]),
                        State.Category, State.Measure});
  return Measures;
}
