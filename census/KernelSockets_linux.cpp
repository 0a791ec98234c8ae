#include "census/KernelSockets_linux.h"

#include <netinet/tcp.h>

#include <algorithm>

namespace {

// The kernel's TCP state after TCP_CLOSING, which the C library does not name.
constexpr unsigned KernelNewSynRecv = 12;

}  // namespace

// ---- States ---------------------------------------------------------------------

int32_t TcpStateFromKernel(unsigned KernelState) {
  switch (KernelState) {
    case TCP_ESTABLISHED: return TcpStateEstablished;
    case TCP_SYN_SENT: return TcpStateSynSent;
    case TCP_SYN_RECV: return TcpStateSynReceived;
    case TCP_FIN_WAIT1: return TcpStateFinWait1;
    case TCP_FIN_WAIT2: return TcpStateFinWait2;
    case TCP_TIME_WAIT: return TcpStateTimeWait;
    case TCP_CLOSE: return TcpStateClosed;
    case TCP_CLOSE_WAIT: return TcpStateCloseWait;
    case TCP_LAST_ACK: return TcpStateLastAck;
    case TCP_LISTEN: return TcpStateListening;
    case TCP_CLOSING: return TcpStateClosing;
    // A half-open connection waiting on a listener.
    case KernelNewSynRecv: return TcpStateSynReceived;
  }
  return 0;
}

// ---- Owners ---------------------------------------------------------------------

void TSocketOwners::Seal() {
  std::sort(Pairs.begin(), Pairs.end());
  Pairs.erase(std::unique(Pairs.begin(), Pairs.end(),
                          [](const auto& A, const auto& B) { return A.first == B.first; }),
              Pairs.end());
}

uint32_t TSocketOwners::Owner(uint64_t Inode) const {
  if (Inode == 0) return 0;
  auto it = std::lower_bound(Pairs.begin(), Pairs.end(), std::make_pair(Inode, uint32_t(0)));
  return it != Pairs.end() && it->first == Inode ? it->second : 0;
}

void AppendKernelSockets(bool Tcp, bool Ipv6, const TKernelSockets& Found,
                         const TSocketOwners& Owners, TSocketList& Sockets) {
  Sockets.reserve(Sockets.size() + Found.size());
  for (const TKernelSocket& each : Found) {
    Sockets.push_back(each.Socket);
    TSocketRecord& socket = Sockets.back();
    socket.Protocol = Tcp ? 0 : 1;
    socket.Ipv6 = Ipv6;
    if (!Tcp) socket.State = 0;
    socket.ProcessId = Owners.Owner(each.Inode);
    // An inode is held by some process: when it is none of those scanned,
    // it is another's.
    if (each.Inode == 0) socket.Owner = TOwner::Nobody;
    else socket.Owner = socket.ProcessId != 0 ? TOwner::Process : TOwner::Other;
  }
}
