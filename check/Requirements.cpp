#include "check/Requirements.h"

#include <utility>

bool IsListening(const TOrvaneCheck& Check, TCounter Category) {
  const TCounterRow& Row = CounterRows[Category];
  // A process that is not running owns nothing, not even the rows of unknown
  // owners (id 0).
  const std::vector<uint32_t>& Owners = Check.Servers[static_cast<int>(Row.Server)].Ids;
  for (const TListEntry& Entry : Check.ConnectionList) {
    if (Entry.Protocol != 0 || Entry.State != TcpStateListening || Entry.ProcessId == 0 ||
        Entry.LocalPort != Check.*Row.Port)
      continue;
    for (uint32_t Owner : Owners)
      if (Entry.ProcessId == Owner) return true;
  }
  return false;
}

TCheckResult TOrvaneCheck::TakeResult() {
  TCheckResult Result;
  Result.Verbosity = Verbosity;
  Result.Ports = *this;
  for (int Counter = 0; Counter < CounterCount; ++Counter)
    Result.Measures[Counter] = JudgedMeasure(Counts[Counter], Warn[Counter], Crit[Counter]);
  Result.Status = IsCritical ? ExitCritical : IsWarning ? ExitWarning : ExitOk;
  for (int Server = 0; Server < ServerCount; ++Server) Result.Running[Server] = Servers[Server].Exact;
  // Only a process of the server's own file name meets a requirement: a
  // namesake that merely contains it (Orvane.exe.old) is no running server.
  for (const TRunningRequirement& Required : RequiredRunning)
    for (TServer Server : Required.Servers)
      if (!Result.Running[static_cast<int>(Server)]) {
        Result.NotRunning.emplace_back(Server, Required.State);
        Result.Status = WorstStatus(Result.Status, Required.State);
      }
  for (const TListeningRequirement& Required : RequiredListening)
    for (TCounter Category : Required.Categories) {
      const bool Listening = IsListening(*this, Category);
      Result.Listeners.push_back({Category, this->*CounterRows[Category].Port, Listening, Required.State});
      if (!Listening) Result.Status = WorstStatus(Result.Status, Required.State);
    }
  for (size_t Index = 0; Index < Measures.PerSource.size(); ++Index) {
    const TPerSourceCategory& Asked = Measures.PerSource[Index];
    TCategorySources& Found = SourceCounts[Index];
    Result.Sources.push_back({Asked.Category, JudgedMeasure(Found.Busiest, Asked.Warn, Asked.Crit),
                              std::move(Found.BusiestSource), Found.Sources, std::move(Found.Top)});
  }
  for (const auto& [Category, State] : AskedStates(Measures))
    Result.States.push_back({Category, State,
                             JudgedMeasure(StateCounts[Category][int(State)],
                                           StateThreshold(Measures.StateWarn, Category, State),
                                           StateThreshold(Measures.StateCrit, Category, State))});
  Result.WarningText = WarningText;
  Result.CriticalText = CriticalText;
  Result.Connections = std::move(ConnectionList);
  Result.ServerConnections = std::move(ServerConnections);
  return Result;
}
