#include "check/OrvaneCheck.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "common/Low32.h"
#include "common/TextCodec.h"

TOrvaneCheck::TOrvaneCheck(const TCheckSystem& System)
    : TOrvane(*System.Files, *System.Registry),
      Sockets(*System.Sockets),
      Processes(*System.Processes) {}

namespace {

bool OpensSection(const std::string& Line) { return !Line.empty() && Line[0] == '['; }

}  // namespace

void TOrvaneCheck::LoadPorts() {
  ReadOrvanePorts();
  ReadLumicourtPorts();
  ReadHelmsteadPorts();
}

void TOrvaneCheck::ReadOrvanePorts() {
  std::vector<std::string> Lines;
  LoadConfigFile(DataPath + "Orvane.ini", Lines);
  bool InPorts = false;
  for (const std::string& Line : Lines) {
    if (OpensSection(Line)) InPorts = false;
    if (Contains(Line, "[Ports]")) InPorts = true;
    for (const TCounterRow& Row : CounterRows) {
      if (Row.Server != TServer::Orvane || Row.PortKey == nullptr) continue;
      // A configured value is taken when it is not 0 as read.
      const int64_t Value = KeyValueInteger(Line, Row.PortKey);
      if (Value != 0 && InPorts) this->*Row.Port = Low32(Value);
    }
  }
}

// The two component files have the same layout: "Port=" in a section per
// port.
void TOrvaneCheck::ReadComponentPorts(TServer Server, const std::string& FileName) {
  std::vector<std::string> Lines;
  LoadConfigFile(FileName, Lines);
  std::array<bool, CounterCount> Open{};  // the rows whose sections are open
  for (const std::string& Line : Lines) {
    // Closing comes first, so a header line that starts with "[" still opens
    // its own section below.
    if (OpensSection(Line)) Open.fill(false);
    for (const TCounterRow& Row : CounterRows)
      if (Row.Server == Server && Row.PortKey != nullptr && Contains(Line, Row.PortKey))
        Open[Row.Id] = true;
    const int64_t Value = KeyValueInteger(Line, "Port=");
    if (Value == 0) continue;
    for (const TCounterRow& Row : CounterRows)
      if (Open[Row.Id]) this->*Row.Port = Low32(Value);
  }
}

void TOrvaneCheck::ReadLumicourtPorts() {
  ReadComponentPorts(TServer::Lumicourt, DataPath + "..\\Lumicourt\\Lumicourt.ini");
}

void TOrvaneCheck::ReadHelmsteadPorts() {
  ReadComponentPorts(TServer::Helmstead, DataPath + "..\\Helmstead\\Helmstead.ini");
}

void TOrvaneCheck::EvaluateThresholds() {
  IsWarning = IsCritical = false;
  WarningText.clear();
  CriticalText.clear();
  auto Judge = [this](const TThreshold& WarnAt, const TThreshold& CritAt, int64_t Count,
                       const std::string& Item) {
    if (WarnAt.Reached(Count)) {
      IsWarning = true;
      WarningText += Item;
    }
    if (CritAt.Reached(Count)) {
      IsCritical = true;
      CriticalText += Item;
    }
  };
  // The total first, then the categories in their order.
  auto Test = [&](TCounter Counter) {
    Judge(Warn[Counter], Crit[Counter], Counts[Counter],
          std::string(CounterRows[Counter].Name) + '=' + std::to_string(Counts[Counter]) + ' ');
  };
  Test(Connections);
  for (TCounter Category : Categories) Test(Category);
  // Then the busiest source of each category asked for, which the text names.
  for (size_t Index = 0; Index < Measures.PerSource.size(); ++Index) {
    const TPerSourceCategory& Asked = Measures.PerSource[Index];
    const TCategorySources& Found = SourceCounts[Index];
    Judge(Asked.Warn, Asked.Crit, Found.Busiest,
          std::string(CounterRows[Asked.Category].Name) + ' ' + std::to_string(Found.Busiest) +
              " connections from " +
              (Found.BusiestSource.empty() ? "any address" : Found.BusiestSource) + ' ');
  }
  // Then the states, by category and state, each list in its order.
  auto TestState = [&](const TStateThreshold& Threshold, bool Critical) {
    const int32_t Count = StateCounts[Threshold.Category][int(Threshold.State)];
    Judge(Critical ? TThreshold() : Threshold.Threshold, Critical ? Threshold.Threshold : TThreshold(),
          Count,
          std::string(CounterRows[Threshold.Category].Name) + ' ' + std::to_string(Count) + ' ' +
              ServiceStateNames[int(Threshold.State)] + ' ');
  };
  for (const TStateThreshold& Threshold : Measures.StateWarn) TestState(Threshold, false);
  for (const TStateThreshold& Threshold : Measures.StateCrit) TestState(Threshold, true);
}

TServerProcesses TOrvaneCheck::FindServerProcesses(const std::string& Name) {
  TServerProcesses Found;
  std::vector<TProcessInfo> List;
  if (!Processes.ListProcesses(List)) return Found;
  const std::string Target = AsciiUpper(Name);
  const uint32_t Own = Processes.OwnProcessId();
  uint32_t Containing = 0;
  // Every process of the server's own file name is the server. Failing
  // those, of the namesakes that merely contain it (BackupOrvane.exe) the
  // last one wins. The program itself, and any other instance of it whatever
  // its name (check_orvane.exe), is never the server.
  for (const TProcessInfo& Process : List) {
    if (Own != 0 && Process.ProcessId == Own) continue;
    const std::string Upper = AsciiUpper(Process.ExeFile);
    if (Upper.find(Target) == std::string::npos) continue;
    if (Processes.RunsOwnImage(Process.ProcessId)) continue;
    if (Upper == Target) Found.Ids.push_back(Process.ProcessId);
    Containing = Process.ProcessId;
  }
  Found.Exact = !Found.Ids.empty();
  if (!Found.Exact && Containing != 0) Found.Ids.push_back(Containing);
  return Found;
}

namespace {

// The counter a connection of Server falls into: its category by its ports,
// else the server's row for the rest; CounterCount where it counts nowhere.
TCounter Classify(TServer Server, const TServicePorts& Ports, const TListEntry& Entry) {
  const TCounter ByPort = PortCategory(Server, Ports, Entry.LocalPort, Entry.RemotePort);
  if (ByPort != CounterCount) return ByPort;
  for (const TCounterRow& Row : CounterRows)
    if (Row.Server == Server && Row.Role == TRole::Rest) return Row.Id;
  return CounterCount;
}

}  // namespace

void TOrvaneCheck::Run() {
  // The processes are looked up first so that the census only has to find
  // the owners that can be counted.
  for (int Server = 0; Server < ServerCount; ++Server)
    Servers[Server] = FindServerProcesses(ServerNames[Server]);
  // Where the system hides other users' processes, a server that is not
  // found may run all the same: zero connections would be a false verdict.
  for (int Server = 0; Server < ServerCount; ++Server) {
    if (!Servers[Server].Ids.empty()) continue;
    const std::string Hidden = Processes.HiddenProcesses();
    if (!Hidden.empty())
      throw std::runtime_error(std::string(ServerNames[Server]) + " not found: " + Hidden);
    break;
  }
  // Owner id to server; a process found for two servers counts for the first.
  std::vector<std::pair<uint32_t, int>> OwnerServers;
  for (int Server = 0; Server < ServerCount; ++Server)
    for (uint32_t Id : Servers[Server].Ids) OwnerServers.emplace_back(Id, Server);
  std::sort(OwnerServers.begin(), OwnerServers.end());
  std::vector<uint32_t> Owners;
  for (const auto& Pair : OwnerServers)
    if (Owners.empty() || Owners.back() != Pair.first) Owners.push_back(Pair.first);

  ConnectionList.clear();
  ServerConnections.clear();
  // Names (and with them the processes' modules) only for the -v -v dump.
  SnapshotConnections(ConnectionList, Sockets, Processes, Owners, Verbosity >= 2);

  Counts.fill(0);
  std::vector<TCounter> PerSource;
  for (const TPerSourceCategory& Asked : Measures.PerSource) PerSource.push_back(Asked.Category);
  TSourceTally Tally(PerSource, Measures.Grouping, Measures.TopSources);
  for (size_t Index = 0; Index < ConnectionList.size(); ++Index) {
    const TListEntry& Entry = ConnectionList[Index];
    // Id 0 is "owner unknown"; such connections belong to nobody we count.
    if (Entry.ProcessId == 0 || Entry.State != TcpStateEstablished) continue;
    const auto Owner = std::lower_bound(OwnerServers.begin(), OwnerServers.end(),
                                        std::make_pair(Entry.ProcessId, 0));
    if (Owner == OwnerServers.end() || Owner->first != Entry.ProcessId) continue;
    // The dump shows every connection of a server, even one that counts in no
    // category (another port of the administration component).
    ServerConnections.push_back(Index);
    const TCounter Counter = Classify(static_cast<TServer>(Owner->second), *this, Entry);
    if (Counter == CounterCount) continue;
    ++Counts[Counter];
    if (!PerSource.empty()) Tally.Add(Counter, Entry);
  }
  SourceCounts = Tally.Results();
  StateCounts = {};
  if (!Measures.States.empty()) {
    TServerIds Ids;
    for (int Server = 0; Server < ServerCount; ++Server) Ids[Server] = Servers[Server].Ids;
    StateCounts = CountStates(ConnectionList, Ids, *this);
  }
  // The totals, then the total of all, which adds them up.
  for (const TCounterRow& Row : CounterRows)
    if (Row.Role != TRole::All && Row.Role != TRole::Total && Row.Total != Connections)
      Counts[Row.Total] += Counts[Row.Id];
  for (const TCounterRow& Row : CounterRows)
    if (Row.Id != Connections && Row.Total == Connections) Counts[Connections] += Counts[Row.Id];

  EvaluateThresholds();
}
