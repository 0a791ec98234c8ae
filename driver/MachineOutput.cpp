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
