#include "check/StateCounts.h"

#include <algorithm>
#include <cstring>
#include <tuple>

const char* const ServiceStateNames[ServiceStateCount] = {"SynRecv", "Queued", "CloseWait",
                                                          "TimeWait", "SynSent"};

bool StateApplies(bool Outbound, TServiceState State) {
  if (Outbound) return State == TServiceState::SynSent || State == TServiceState::CloseWait;
  return State != TServiceState::SynSent;
}

namespace {

constexpr int NoServer = -1;  // another process, or an owner the census could not tell

int ServerOf(uint32_t ProcessId, const TServerIds& Servers) {
  for (size_t Server = 0; Server < Servers.size(); ++Server)
    if (std::find(Servers[Server].begin(), Servers[Server].end(), ProcessId) !=
        Servers[Server].end())
      return int(Server);
  return NoServer;
}

// The state a socket in that TCP state counts as; false for none. A held
// established socket is the classic count, not a state of its own; a
// connection attempt out is always the server's own socket.
bool StateOf(int32_t TcpState, bool Held, TServiceState& State) {
  switch (TcpState) {
    case TcpStateSynReceived:
      State = TServiceState::SynRecv;
      return true;
    case TcpStateEstablished:
      State = TServiceState::Queued;
      return !Held;
    case TcpStateCloseWait:
      State = TServiceState::CloseWait;
      return true;
    case TcpStateTimeWait:
      State = TServiceState::TimeWait;
      return true;
    case TcpStateSynSent:
      State = TServiceState::SynSent;
      return Held;
  }
  return false;
}

struct TListener {
  bool Ipv6;
  int32_t Port;
  uint8_t Address[16];
  int Server;
};

bool ListenerBefore(const TListener& A, const TListener& B) {
  return std::tie(A.Ipv6, A.Port) != std::tie(B.Ipv6, B.Port)
             ? std::tie(A.Ipv6, A.Port) < std::tie(B.Ipv6, B.Port)
             : std::memcmp(A.Address, B.Address, sizeof A.Address) < 0;
}

// The server whose listener took a socket with that local end: the
// listeners on exactly that address and port, else those on the wildcard
// address of its family. NoServer when there is none, or when they are not
// all of one server.
int ListenerServer(const std::vector<TListener>& Listeners, const TListEntry& Entry) {
  TListener Wanted{Entry.Ipv6, Entry.LocalPort, {}, NoServer};
  std::memcpy(Wanted.Address, Entry.LocalBytes, sizeof Wanted.Address);
  auto Found = std::equal_range(Listeners.begin(), Listeners.end(), Wanted, ListenerBefore);
  if (Found.first == Found.second) {
    std::memset(Wanted.Address, 0, sizeof Wanted.Address);
    Found = std::equal_range(Listeners.begin(), Listeners.end(), Wanted, ListenerBefore);
  }
  if (Found.first == Found.second) return NoServer;
  const int Server = Found.first->Server;
  for (auto Listener = Found.first; Listener != Found.second; ++Listener)
    if (Listener->Server != Server) return NoServer;
  return Server;
}

}  // namespace

TStateCounts CountStates(const TConnectionList& Entries, const TServerIds& Servers,
                         const TServicePorts& Ports) {
  std::vector<TListener> Listeners;
  for (const TListEntry& Entry : Entries) {
    if (Entry.Protocol != 0 || Entry.State != TcpStateListening) continue;
    TListener Listener{Entry.Ipv6, Entry.LocalPort, {}, NoServer};
    std::memcpy(Listener.Address, Entry.LocalBytes, sizeof Listener.Address);
    if (Entry.Owner == TOwner::Process) Listener.Server = ServerOf(Entry.ProcessId, Servers);
    Listeners.push_back(Listener);
  }
  std::sort(Listeners.begin(), Listeners.end(), ListenerBefore);

  TStateCounts Counts{};
  for (const TListEntry& Entry : Entries) {
    if (Entry.Protocol != 0) continue;
    const bool Held = Entry.Owner == TOwner::Process;
    // Sockets of other processes, and of owners the tables do not name.
    if (!Held && Entry.Owner != TOwner::Nobody) continue;
    TServiceState State;
    if (!StateOf(Entry.State, Held, State)) continue;
    const int Server = Held ? ServerOf(Entry.ProcessId, Servers) : ListenerServer(Listeners, Entry);
    if (Server == NoServer) continue;
    // A socket no process holds came in through a listener: its local port alone tells.
    const TCounter Category = PortCategory(TServer(Server), Ports, Entry.LocalPort, Entry.RemotePort, !Held);
    if (Category == CounterCount || !StateApplies(CounterRows[Category].Role == TRole::Outbound, State))
      continue;
    ++Counts[Category][int(State)];
  }
  return Counts;
}
