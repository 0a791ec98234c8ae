#include "driver/MachineOutput.h"

#include <algorithm>
#include <utility>

TProgramResult MachineResult(std::string Text, const TCheckResult& Result, const TSettings& Settings) {
  TProgramResult Output(std::move(Text), Result.Status);
  Output.Verbatim = true;
  Output.OutputFile = Settings.OutputFile;
  return Output;
}

std::vector<TCounter> AskedListeners(const TSettings& Settings) {
  std::vector<TCounter> Asked;
  for (const TListeningRequirement& Required : Settings.RequiredListening)
    for (TCounter Category : Required.Categories)
      if (std::find(Asked.begin(), Asked.end(), Category) == Asked.end()) Asked.push_back(Category);
  return Asked;
}

const TListenerFinding* FindListener(const TCheckResult& Result, TCounter Category) {
  for (const TListenerFinding& Finding : Result.Listeners)
    if (Finding.Category == Category) return &Finding;
  return nullptr;
}

const TSourceMeasure* FindSource(const TCheckResult& Result, TCounter Category) {
  for (const TSourceMeasure& Measure : Result.Sources)
    if (Measure.Category == Category) return &Measure;
  return nullptr;
}

const TStateMeasure* FindState(const TCheckResult& Result, TCounter Category, TServiceState State) {
  for (const TStateMeasure& Measure : Result.States)
    if (Measure.Category == Category && Measure.State == State) return &Measure;
  return nullptr;
}

std::string StateKey(TServiceState State) {
  std::string Key;
  for (const char* Name = ServiceStateNames[int(State)]; *Name != '\0'; ++Name) {
    if (*Name >= 'A' && *Name <= 'Z') {
      if (!Key.empty()) Key += '_';
      Key += static_cast<char>(*Name - 'A' + 'a');
    } else {
      Key += *Name;
    }
  }
  return Key;
}
