// TOrvaneCheck: the check object with its ports, counters, thresholds and
// verdict; the port readers, the process search, the classifier and the
// threshold evaluation.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "census/GetConnections.h"
#include "check/Categories.h"
#include "check/CheckResult.h"
#include "check/MeasureOptions.h"
#include "check/Status.h"
#include "check/Thresholds.h"
#include "install/Orvane.h"

// What a check reads from the system. Tests hand in fakes; only main hands
// in the running machine's sources.
struct TCheckSystem {
  TConfigFileSystem* Files;
  TRegistrySource* Registry;
  TSocketSource* Sockets;
  TProcessSource* Processes;
};

// What must be there besides the counts; each group with its own state.
struct TRunningRequirement {
  std::vector<TServer> Servers;
  TStatus State = ExitCritical;
};
struct TListeningRequirement {
  std::vector<TCounter> Categories;  // inbound ones: a port of their own
  TStatus State = ExitCritical;
};

// The processes taken for one server.
struct TServerProcesses {
  std::vector<uint32_t> Ids;  // empty: not running
  bool Exact = false;         // found under the server's own file name
};

class TOrvaneCheck : public TOrvane, public TServicePorts {
public:
  explicit TOrvaneCheck(const TCheckSystem& System);

  // Indexed by TCounter.
  std::array<int32_t, CounterCount> Counts{};
  // The thresholds of the total (Connections) and the categories; the other
  // counters have none.
  std::array<TThreshold, CounterCount> Warn, Crit;
  std::vector<TRunningRequirement> RequiredRunning;
  std::vector<TListeningRequirement> RequiredListening;
  // Connections per source and TCP states, when asked for.
  TMeasureSettings Measures;

  // Verdict of the thresholds
  bool IsWarning = false;
  bool IsCritical = false;
  std::string WarningText;
  std::string CriticalText;

  TConnectionList ConnectionList;
  // What the last Run found of each server (TServer order), and the indexes
  // in ConnectionList of every ESTABLISHED connection of a server process.
  std::array<TServerProcesses, ServerCount> Servers;
  std::vector<size_t> ServerConnections;
  // What the last Run found of the measures asked for.
  std::vector<TCategorySources> SourceCounts;
  TStateCounts StateCounts{};

  void LoadPorts();
  void ReadOrvanePorts();
  void ReadLumicourtPorts();
  void ReadHelmsteadPorts();

  void Run();
  TServerProcesses FindServerProcesses(const std::string& Name);
  void EvaluateThresholds();

  // The run's result, with the requirements judged; takes the connection list.
  TCheckResult TakeResult();

private:
  void ReadComponentPorts(TServer Server, const std::string& FileName);

  TSocketSource& Sockets;
  TProcessSource& Processes;
};
