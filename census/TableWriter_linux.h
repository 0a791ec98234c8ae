// The kernel's sockets written as the system's connection tables (the row
// layouts of GetConnections.h), each row keeping its socket inode until the
// owners are known.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "census/GetConnections.h"

// One socket as the kernel reports it.
struct TSocketRecord {
  int32_t State = 0;               // TCP state in the tables' numbering (TcpStateNames)
  uint8_t LocalAddress[16] = {};   // network order; an IPv4 address fills the first four
  uint8_t RemoteAddress[16] = {};
  uint16_t LocalPort = 0;          // host order
  uint16_t RemotePort = 0;
  uint32_t LocalScope = 0;         // IPv6 scope (interface index)
  uint32_t RemoteScope = 0;
  uint64_t Inode = 0;              // 0 for sockets no process holds (TIME_WAIT, half-open)
};

// The kernel's TCP state number (ESTABLISHED 1 .. NEW_SYN_RECV 12) in the
// tables' numbering (LISTEN 2, ESTABLISHED 5, TIME_WAIT 11...); 0 for a
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

// Builds one table in the system's byte layout from socket records, keeping
// each row's socket inode until the owners are known.
class TTableWriter {
public:
  TTableWriter(TTableKind Kind, bool Extended, std::vector<uint8_t>& Table);
  void Add(const TSocketRecord& Socket);
  size_t Rows() const { return RowCount; }
  // Drops every row, e.g. to read the table again from another source.
  void Reset();
  // Fills the owning process id of every row (extended tables only).
  void SetOwners(const TSocketOwners& Owners);

private:
  TTableKind Kind;
  bool Extended;
  std::vector<uint8_t>& Table;
  size_t RowCount = 0;
  std::vector<uint64_t> Inodes;  // per row, extended tables only
};
