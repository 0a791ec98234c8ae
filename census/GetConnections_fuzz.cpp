// Fuzz target of the decoding of the system's raw connection tables and the
// conversion of their sockets into entries: any bytes, any claimed row count.
#include <arpa/inet.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "testing/FakeCensus.h"
#include "census/GetConnections.h"

namespace {

void Fail(const char* What, const std::string& Detail) {
  std::fprintf(stderr, "fuzz: %s [%s]\n", What, Detail.c_str());
  std::abort();
}

uint32_t Le32(const uint8_t* At) {
  return uint32_t(At[0]) | uint32_t(At[1]) << 8 | uint32_t(At[2]) << 16 | uint32_t(At[3]) << 24;
}

bool IsDottedQuad(const std::string& Text) {
  in_addr Parsed;
  return inet_pton(AF_INET, Text.c_str(), &Parsed) == 1;
}

// The system's own formatting, where it agrees on the form: it writes an
// address whose first twelve bytes are zero as ::a.b.c.d.
void CheckIpv6Text(const uint8_t Address[16], const std::string& Text) {
  static const uint8_t Zero[12] = {};
  if (std::memcmp(Address, Zero, sizeof Zero) == 0) {
    in6_addr Parsed;
    if (inet_pton(AF_INET6, Text.c_str(), &Parsed) != 1 || std::memcmp(&Parsed, Address, 16) != 0)
      Fail("IPv6 text does not read back", Text);
    return;
  }
  char Expected[INET6_ADDRSTRLEN];
  if (inet_ntop(AF_INET6, Address, Expected, sizeof Expected) == nullptr || Text != Expected)
    Fail("IPv6 text differs from the system's", Text);
}

const TTableKind Kinds[] = {TTableKind::Tcp4, TTableKind::Tcp6, TTableKind::Udp4, TTableKind::Udp6};

}  // namespace

// The first byte picks the table kind (bits 0-1), the extended layout (bit
// 2) and whether only the servers are asked for (bit 3) or every owner; the rest is the table, handed over in a
// buffer of exactly its size so that any read past it is caught.
int FuzzConnectionTables(const uint8_t* Data, size_t Size) {
  if (Size == 0) return 0;
  const TTableKind Kind = Kinds[Data[0] & 3];
  const bool Extended = (Data[0] & 4) != 0;
  const bool Filtered = (Data[0] & 8) != 0;
  const size_t TableSize = Size - 1;
  std::unique_ptr<uint8_t[]> Table(new uint8_t[TableSize ? TableSize : 1]);
  if (TableSize) std::memcpy(Table.get(), Data + 1, TableSize);

  TFakeProcessSource Processes;
  Processes.Processes = {{4, "System"}, {100, "Orvane.exe"}, {200, "Lumicourt.exe"}, {100, "dup"}};
  Processes.ModulePaths = {{100, "C:\\Orvane\\App\\Orvane.exe"}};
  TFakeSocketSource Sockets;
  AppendTableSockets(Kind, Extended, TableSize ? Table.get() : nullptr, TableSize, Sockets.Sockets);
  std::vector<uint32_t> Owners = {100, 200};
  if (!Filtered) {
    // As the check asks: id 0 is no owner.
    for (const TSocketRecord& Socket : Sockets.Sockets)
      if (Socket.ProcessId != 0) Owners.push_back(Socket.ProcessId);
    std::sort(Owners.begin(), Owners.end());
    Owners.erase(std::unique(Owners.begin(), Owners.end()), Owners.end());
  }
  TConnectionList List(1);  // entries are appended behind what is there
  SnapshotConnections(List, Sockets, Processes, Owners);

  const size_t RowSize = TableRowSize(Kind, Extended);
  const size_t Claimed = TableSize >= 4 ? Le32(Table.get()) : 0;
  const size_t Fitting = TableSize >= 4 ? (TableSize - 4) / RowSize : 0;
  const size_t Rows = Claimed < Fitting ? Claimed : Fitting;
  if (List.size() != 1 + Rows) Fail("wrong number of entries", std::to_string(List.size()));

  const bool Tcp = Kind == TTableKind::Tcp4 || Kind == TTableKind::Tcp6;
  const bool Ipv6 = Kind == TTableKind::Tcp6 || Kind == TTableKind::Udp6;
  for (size_t Index = 0; Index < Rows; ++Index) {
    const TListEntry& Entry = List[1 + Index];
    const uint8_t* Row = Table.get() + 4 + Index * RowSize;
    if (Entry.Protocol != (Tcp ? 0 : 1)) Fail("wrong protocol", std::to_string(Entry.Protocol));
    if (Entry.LocalPort < 0 || Entry.LocalPort > 65535 || Entry.RemotePort < 0 ||
        Entry.RemotePort > 65535)
      Fail("port out of range", std::to_string(Entry.LocalPort));
    if (!Tcp && (Entry.State != 0 || !Entry.RemoteAddress.empty() || Entry.RemotePort != 0))
      Fail("UDP entry with a remote end or state", Entry.RemoteAddress);
    if (Ipv6) {
      // The local address leads the row, after the state in a plain TCP row.
      const uint8_t* Local = Row + (Kind == TTableKind::Tcp6 && !Extended ? 4 : 0);
      CheckIpv6Text(Local, Entry.LocalAddress);
    } else {
      if (!IsDottedQuad(Entry.LocalAddress)) Fail("not a dotted address", Entry.LocalAddress);
      if (Tcp && !IsDottedQuad(Entry.RemoteAddress)) Fail("not a dotted address", Entry.RemoteAddress);
    }
    if (!Extended && (Entry.ProcessId != 0 || !Entry.ProcessName.empty()))
      Fail("owner on a plain table", Entry.ProcessName);
    if (Extended) {
      const bool Named = std::binary_search(Owners.begin(), Owners.end(), Entry.ProcessId);
      std::string Expected;
      if (Named) {
        Expected = Entry.ProcessId == 100   ? "C:\\Orvane\\App\\Orvane.exe"
                   : Entry.ProcessId == 200 ? "Lumicourt.exe"
                   : Entry.ProcessId == 4   ? "System"
                                            : "?";
      }
      if (Entry.ProcessName != Expected) Fail("wrong owner name", Entry.ProcessName);
    }
  }
  return 0;
}
