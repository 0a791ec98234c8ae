// The kernel's sockets as its readers find them, before their owners are
// known.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "census/GetConnections.h"

// One socket as a kernel reader reports it: addresses, ports and the TCP
// state; the source that reads the table sets its protocol, family and owner.
struct TKernelSocket {
  TSocketRecord Socket;
  uint64_t Inode = 0;  // 0 for sockets no process holds (TIME_WAIT, half-open)
};

using TKernelSockets = std::vector<TKernelSocket>;

// The kernel's TCP state number (ESTABLISHED 1 .. NEW_SYN_RECV 12) in the
// system's numbering (LISTEN 2, ESTABLISHED 5, TIME_WAIT 11...); 0 for a
// number the kernel does not define.
int32_t TcpStateFromKernel(unsigned KernelState);

// Socket inode -> owning process id.
class TSocketOwners {
public:
  void Add(uint64_t Inode, uint32_t ProcessId) { Pairs.emplace_back(Inode, ProcessId); }
  // Call once all are added. A socket shared by several processes goes to
  // the lowest process id.
  void Seal();
  uint32_t Owner(uint64_t Inode) const;  // 0 when unknown
  size_t Size() const { return Pairs.size(); }
  void Clear() { Pairs.clear(); }

private:
  std::vector<std::pair<uint64_t, uint32_t>> Pairs;
};

// Appends what a reader found in one table of that protocol and family to
// Sockets, each with the owner of its inode: Nobody for inode 0 (no process
// holds it), Other for an inode that none of the scanned processes holds.
void AppendKernelSockets(bool Tcp, bool Ipv6, const TKernelSockets& Found,
                         const TSocketOwners& Owners, TSocketList& Sockets);
