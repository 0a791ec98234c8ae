// The connection census: every TCP and UDP endpoint of the machine with the
// process that owns it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <unordered_map>
#include <vector>

// Who holds a socket, as far as the census can tell. Sockets that no process
// holds are the ones a listener has not handed out yet (half-open, waiting to
// be accepted) and the ones their holder has let go (TIME_WAIT): only the
// listener they came through can tell whose they are.
enum class TOwner : uint8_t {
  Unknown,  // the tables name no owners (the plain Windows tables)
  Nobody,   // no process holds it (Linux: no inode; Windows: process id 0)
  Process,  // ProcessId holds it
  Other,    // a process holds it, but none of those the snapshot was asked about
};

// The fields stand where they leave no gaps: a snapshot holds one entry per
// socket of the machine.
struct TListEntry {
  int32_t Protocol = 0;  // 0 TCP, 1 UDP (IPv4 and IPv6 alike)
  // Process: one of the snapshot's Owners. Other keeps the id where the
  // system gives it (Windows), so ProcessId alone never makes a row count.
  TOwner Owner = TOwner::Unknown;
  bool Ipv6 = false;
  std::string LocalAddress;   // dotted IPv4 or canonical IPv6 text
  int32_t LocalPort = 0;      // host order
  int32_t RemotePort = 0;
  std::string RemoteAddress;  // empty for UDP
  int32_t State = 0;          // TCP state 1..12 (TcpStateNames), 0 for UDP
  uint32_t ProcessId = 0;     // 0 when the owner is unknown or not asked about
  std::string ProcessName;
  // The addresses as the system gave them, network order, an IPv4 address in
  // the first four bytes: grouping by network takes bytes, not text.
  uint8_t LocalBytes[16] = {};
  uint8_t RemoteBytes[16] = {};
};

using TConnectionList = std::vector<TListEntry>;

extern const char* const ProtocolNames[2];
extern const char* const TcpStateNames[13];
// The system's TCP state numbers, the indexes of TcpStateNames.
enum : int32_t {
  TcpStateClosed = 1, TcpStateListening, TcpStateSynSent, TcpStateSynReceived,
  TcpStateEstablished, TcpStateFinWait1, TcpStateFinWait2, TcpStateCloseWait,
  TcpStateClosing, TcpStateLastAck, TcpStateTimeWait, TcpStateDeleteTcb,
};

// The 32-bit address field of a row, read little-endian, to dotted text:
// the byte at the lowest address is the first number.
std::string IpAddressToText(uint32_t Field);
// Sixteen address bytes in network order to the canonical IPv6 text: lower
// case, the longest run of two or more zero groups (the first of equal runs)
// written "::", an IPv4-mapped address as ::ffff:a.b.c.d.
std::string Ipv6AddressToText(const uint8_t Address[16]);
// The 32-bit port field of a row, read little-endian: its first two bytes
// in memory, high byte first.
int32_t PortFromNetworkOrder(uint32_t Field);

// The rows of the system's tables. Every table is a little-endian 32-bit row
// count followed at once by its rows. All fields are 32 bits wide except the
// 16-byte IPv6 addresses; a port field holds the port in network order in
// its first two bytes. IPv6 scope ids are not shown.
enum TRowField {
  RowState,
  RowLocalAddress,
  RowLocalScope,  // IPv6 only, after the address
  RowLocalPort,
  RowRemoteAddress,
  RowRemoteScope,
  RowRemotePort,
  RowProcessId,  // the owner, in the extended tables only
};

// Where the fields of one row stand, in bytes from its start; -1 where the
// row has no such field.
struct TRowLayout {
  bool Tcp = false;
  bool Ipv6 = false;
  size_t Size = 0;
  int State = -1;
  int LocalAddress = -1;
  int LocalScope = -1;
  int LocalPort = -1;
  int RemoteAddress = -1;
  int RemoteScope = -1;
  int RemotePort = -1;
  int ProcessId = -1;
};

// The layout of a row that holds Fields one after the other.
constexpr TRowLayout RowOf(bool Tcp, bool Ipv6, std::initializer_list<TRowField> Fields) {
  TRowLayout layout;
  layout.Tcp = Tcp;
  layout.Ipv6 = Ipv6;
  int offset = 0;
  for (TRowField field : Fields) {
    int width = 4;
    switch (field) {
      case RowState: layout.State = offset; break;
      case RowLocalAddress: layout.LocalAddress = offset; width = Ipv6 ? 16 : 4; break;
      case RowLocalScope: layout.LocalScope = offset; break;
      case RowLocalPort: layout.LocalPort = offset; break;
      case RowRemoteAddress: layout.RemoteAddress = offset; width = Ipv6 ? 16 : 4; break;
      case RowRemoteScope: layout.RemoteScope = offset; break;
      case RowRemotePort: layout.RemotePort = offset; break;
      case RowProcessId: layout.ProcessId = offset; break;
    }
    offset += width;
  }
  layout.Size = size_t(offset);
  return layout;
}

constexpr TRowLayout TcpRowPlain =
    RowOf(true, false, {RowState, RowLocalAddress, RowLocalPort, RowRemoteAddress, RowRemotePort});
constexpr TRowLayout TcpRowExtended = RowOf(
    true, false,
    {RowState, RowLocalAddress, RowLocalPort, RowRemoteAddress, RowRemotePort, RowProcessId});
constexpr TRowLayout Tcp6RowPlain =
    RowOf(true, true,
          {RowState, RowLocalAddress, RowLocalScope, RowLocalPort, RowRemoteAddress, RowRemoteScope,
           RowRemotePort});
// The state moves behind the addresses in the extended IPv6 row.
constexpr TRowLayout Tcp6RowExtended =
    RowOf(true, true,
          {RowLocalAddress, RowLocalScope, RowLocalPort, RowRemoteAddress, RowRemoteScope,
           RowRemotePort, RowState, RowProcessId});
constexpr TRowLayout UdpRowPlain = RowOf(false, false, {RowLocalAddress, RowLocalPort});
constexpr TRowLayout UdpRowExtended =
    RowOf(false, false, {RowLocalAddress, RowLocalPort, RowProcessId});
constexpr TRowLayout Udp6RowPlain =
    RowOf(false, true, {RowLocalAddress, RowLocalScope, RowLocalPort});
constexpr TRowLayout Udp6RowExtended =
    RowOf(false, true, {RowLocalAddress, RowLocalScope, RowLocalPort, RowProcessId});

// ---- Process names ----------------------------------------------------------

struct TProcessInfo {
  uint32_t ProcessId = 0;
  std::string ExeFile;  // the executable's file name as the process list gives it
};

// Platform seam: the process list and the modules of one process.
class TProcessSource {
public:
  virtual ~TProcessSource() = default;
  // One snapshot of the running processes, in the system's order. False when
  // the system refuses the snapshot.
  virtual bool ListProcesses(std::vector<TProcessInfo>& Processes) = 0;
  // The full path of the module of process ProcessId whose name equals
  // ExeFile case-insensitively. False when the module list cannot be read or
  // holds no such module.
  virtual bool ModuleExePath(uint32_t ProcessId, const std::string& ExeFile,
                             std::string& Path) = 0;
  // Why the list may lack running processes of other users (a system that
  // hides them from this user), as text for a message; empty when the list
  // shows every process.
  virtual std::string HiddenProcesses() { return {}; }
  // The id of the running program's own process, which is never the server
  // whatever its name (0 when unknown).
  virtual uint32_t OwnProcessId() { return 0; }
  // Whether process ProcessId runs the program's own executable file: another
  // instance of the check, whatever name it was installed under. Such a
  // process is never taken for a server. False when it cannot be told.
  virtual bool RunsOwnImage(uint32_t) { return false; }
};

TProcessSource& SystemProcessSource();

// The name of process ProcessId: the full path of its executable where the
// system lets it be read, else its file name, else "?" when no running
// process has the id (or the list cannot be read). The first process in the
// list with the id wins. Never throws.
std::string ProcessNameFromId(uint32_t ProcessId, TProcessSource& Processes);

// Names owners within one snapshot, with the answers of ProcessNameFromId:
// the process list is read once (on the first name asked for), and each
// distinct id is named once, so the cost grows with rows plus processes.
// Never throws.
class TProcessNamer {
public:
  explicit TProcessNamer(TProcessSource& Processes) : Processes(Processes) {}
  // The reference stays valid for the namer's lifetime.
  const std::string& Name(uint32_t ProcessId);

private:
  TProcessSource& Processes;
  bool Listed = false;
  std::vector<TProcessInfo> List;
  std::unordered_map<uint32_t, size_t> FirstIndex;  // id -> first list entry with it
  std::unordered_map<uint32_t, std::string> Names;
};

// ---- Sockets ----------------------------------------------------------------

// One endpoint of a snapshot, as the system's census gives it.
struct TSocketRecord {
  int32_t Protocol = 0;            // 0 TCP, 1 UDP, as in TListEntry
  bool Ipv6 = false;
  TOwner Owner = TOwner::Unknown;  // Process: ProcessId holds it
  uint8_t LocalAddress[16] = {};   // network order; an IPv4 address fills the first four
  uint8_t RemoteAddress[16] = {};
  uint16_t LocalPort = 0;          // host order
  uint16_t RemotePort = 0;
  int32_t State = 0;               // TCP state 1..12 (TcpStateNames), 0 for UDP
  uint32_t ProcessId = 0;          // 0 unless Owner is Process
};

using TSocketList = std::vector<TSocketRecord>;

// Platform seam: the sockets of one snapshot of the machine.
class TSocketSource {
public:
  virtual ~TSocketSource() = default;
  // Appends every TCP socket (IPv4, then IPv6) and then every UDP socket
  // (IPv4, then IPv6) to Sockets. Owners (sorted, unique) are the only
  // process ids the caller cares about: a socket of another process may come
  // as Other without an id, or as Process with its id. Sockets that no
  // process holds come as Nobody. A table that cannot be read throws
  // std::runtime_error with the system's message; the sockets of the tables
  // before it stay.
  virtual void ReadSockets(const std::vector<uint32_t>& Owners, TSocketList& Sockets) = 0;
};

TSocketSource& SystemSocketSource();

// ---- Connection tables ----------------------------------------------------

// The system's tables of one family and protocol; the order of the kinds is
// the order of a snapshot.
enum class TTableKind { Tcp4, Tcp6, Udp4, Udp6 };

// The layout of one row of a table of that kind, and its size.
const TRowLayout& RowLayout(TTableKind Kind, bool Extended);
size_t TableRowSize(TTableKind Kind, bool Extended);

// The sockets of a raw table appended to Sockets. Never reads past Size,
// whatever row count the table claims: only the whole rows that fit are
// taken. Owners come from extended tables only: a row of process id 0 there
// belongs to nobody; the rows of plain tables have an Unknown owner.
void AppendTableSockets(TTableKind Kind, bool Extended, const uint8_t* Table, size_t Size,
                        TSocketList& Sockets);

// Appends an entry for every socket of one snapshot to List, in the source's
// order. With NameOwners, owners in Owners (sorted, unique) are named. An
// entry keeps Process as its owner only for an owner in Owners; a socket of
// any other process becomes Other, and keeps its id where the source gave
// one. A failing table throws; the entries of the
// tables before it stay in List.
void SnapshotConnections(TConnectionList& List, TSocketSource& Sockets, TProcessSource& Processes,
                         const std::vector<uint32_t>& Owners, bool NameOwners = true);
