#include "census/TableWriter_linux.h"

#include <algorithm>

namespace {

void PutU32(std::vector<uint8_t>& Out, uint32_t V) {
  const uint8_t b[4] = {uint8_t(V), uint8_t(V >> 8), uint8_t(V >> 16), uint8_t(V >> 24)};
  Out.insert(Out.end(), b, b + 4);
}

void PutPort(std::vector<uint8_t>& Out, uint16_t Port) {
  const uint8_t b[4] = {uint8_t(Port >> 8), uint8_t(Port), 0, 0};
  Out.insert(Out.end(), b, b + 4);
}

void PutBytes(std::vector<uint8_t>& Out, const uint8_t* Bytes, size_t Count) {
  Out.insert(Out.end(), Bytes, Bytes + Count);
}

void SetU32(uint8_t* At, uint32_t V) {
  for (int i = 0; i < 4; ++i) At[i] = uint8_t(V >> (8 * i));
}

// Offset of the owning process id within an extended row.
size_t ProcessIdOffset(TTableKind Kind) {
  switch (Kind) {
    case TTableKind::Tcp4: return 20;
    case TTableKind::Tcp6: return 52;
    case TTableKind::Udp6: return 24;
    case TTableKind::Udp4: break;
  }
  return 8;
}

}  // namespace

// ---- States ---------------------------------------------------------------------

int32_t TcpStateFromKernel(unsigned KernelState) {
  // ESTABLISHED, SYN_SENT, SYN_RECV, FIN_WAIT1, FIN_WAIT2, TIME_WAIT, CLOSE,
  // CLOSE_WAIT, LAST_ACK, LISTEN, CLOSING, NEW_SYN_RECV (a half-open
  // connection waiting on a listener)
  static constexpr int32_t states[13] = {0, 5, 3, 4, 6, 7, 11, 1, 8, 10, 2, 9, 4};
  return KernelState < 13 ? states[KernelState] : 0;
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
  switch (Kind) {
    case TTableKind::Tcp4:
      PutU32(Table, uint32_t(Socket.State));
      PutBytes(Table, Socket.LocalAddress, 4);
      PutPort(Table, Socket.LocalPort);
      PutBytes(Table, Socket.RemoteAddress, 4);
      PutPort(Table, Socket.RemotePort);
      break;
    case TTableKind::Udp4:
      PutBytes(Table, Socket.LocalAddress, 4);
      PutPort(Table, Socket.LocalPort);
      break;
    case TTableKind::Tcp6:
      if (!Extended) PutU32(Table, uint32_t(Socket.State));
      PutBytes(Table, Socket.LocalAddress, 16);
      PutU32(Table, Socket.LocalScope);
      PutPort(Table, Socket.LocalPort);
      PutBytes(Table, Socket.RemoteAddress, 16);
      PutU32(Table, Socket.RemoteScope);
      PutPort(Table, Socket.RemotePort);
      if (Extended) PutU32(Table, uint32_t(Socket.State));
      break;
    case TTableKind::Udp6:
      PutBytes(Table, Socket.LocalAddress, 16);
      PutU32(Table, Socket.LocalScope);
      PutPort(Table, Socket.LocalPort);
      break;
  }
  if (Extended) {
    PutU32(Table, 0);  // the owner, once known
    Inodes.push_back(Socket.Inode);
  }
  ++RowCount;
  SetU32(Table.data(), uint32_t(RowCount));
}

void TTableWriter::SetOwners(const TSocketOwners& Owners) {
  if (!Extended) return;
  const size_t rowSize = TableRowSize(Kind, true);
  const size_t offset = 4 + ProcessIdOffset(Kind);
  for (size_t i = 0; i < RowCount; ++i)
    SetU32(Table.data() + offset + i * rowSize, Owners.Owner(Inodes[i]));
}
