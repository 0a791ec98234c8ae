#include "census/TableWriter_linux.h"

#include <netinet/tcp.h>

#include <algorithm>
#include <cstring>

namespace {

// The kernel's TCP state after TCP_CLOSING, which the C library does not name.
constexpr unsigned KernelNewSynRecv = 12;

void SetU32(uint8_t* At, uint32_t V) {
  for (int i = 0; i < 4; ++i) At[i] = uint8_t(V >> (8 * i));
}

// A port field: the port in network order in its first two bytes.
void SetPort(uint8_t* At, uint16_t Port) {
  At[0] = uint8_t(Port >> 8);
  At[1] = uint8_t(Port);
}

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

// ---- Table writer -----------------------------------------------------------------

TTableWriter::TTableWriter(TTableKind Kind, bool Extended, std::vector<uint8_t>& Table)
    : Kind(Kind), Extended(Extended), Table(Table) {
  Reset();
}

void TTableWriter::Reset() {
  Table.assign(4, 0);
  RowCount = 0;
  Inodes.clear();
}

void TTableWriter::Add(const TSocketRecord& Socket) {
  const TRowLayout& layout = RowLayout(Kind, Extended);
  const size_t start = Table.size();
  Table.resize(start + layout.Size);  // zeroes: the owner, once known, and the ports' high half
  uint8_t* row = Table.data() + start;
  const size_t addressSize = layout.Ipv6 ? 16 : 4;
  if (layout.State >= 0) SetU32(row + layout.State, uint32_t(Socket.State));
  std::memcpy(row + layout.LocalAddress, Socket.LocalAddress, addressSize);
  if (layout.LocalScope >= 0) SetU32(row + layout.LocalScope, Socket.LocalScope);
  SetPort(row + layout.LocalPort, Socket.LocalPort);
  if (layout.RemoteAddress >= 0)
    std::memcpy(row + layout.RemoteAddress, Socket.RemoteAddress, addressSize);
  if (layout.RemoteScope >= 0) SetU32(row + layout.RemoteScope, Socket.RemoteScope);
  if (layout.RemotePort >= 0) SetPort(row + layout.RemotePort, Socket.RemotePort);
  if (Extended) Inodes.push_back(Socket.Inode);
  ++RowCount;
  SetU32(Table.data(), uint32_t(RowCount));
}

void TTableWriter::SetOwners(const TSocketOwners& Owners) {
  if (!Extended) return;
  const TRowLayout& layout = RowLayout(Kind, true);
  const size_t rowSize = layout.Size;
  const size_t offset = 4 + size_t(layout.ProcessId);
  for (size_t i = 0; i < RowCount; ++i)
    SetU32(Table.data() + offset + i * rowSize, Owners.Owner(Inodes[i]));
}
