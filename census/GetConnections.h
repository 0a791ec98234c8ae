// The connection census: every TCP and UDP endpoint of the machine with the
// process that owns it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

struct TListEntry {
  int32_t Protocol = 0;       // 0 TCP, 1 UDP (IPv4 and IPv6 alike)
  std::string LocalAddress;   // dotted IPv4 or canonical IPv6 text
  int32_t LocalPort = 0;      // host order
  std::string RemoteAddress;  // empty for UDP
  int32_t RemotePort = 0;
  int32_t State = 0;          // TCP state 1..12 (TcpStateNames), 0 for UDP
  std::string ProcessName;
  uint32_t ProcessId = 0;     // 0 when the owner is unknown
};

using TConnectionList = std::vector<TListEntry>;

extern const char* const ProtocolNames[2];
extern const char* const TcpStateNames[13];
constexpr int32_t TcpStateListening = 2;
constexpr int32_t TcpStateEstablished = 5;

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

// Row sizes of the system's tables. Every table is a little-endian 32-bit row
// count followed at once by its rows. All fields are 32 bits wide except the
// 16-byte IPv6 addresses; IPv6 scope ids are not shown.
constexpr size_t TcpRowExtendedSize = 24;   // state, local addr/port, remote addr/port, pid
constexpr size_t TcpRowPlainSize = 20;
constexpr size_t UdpRowExtendedSize = 12;   // local addr/port, pid
constexpr size_t UdpRowPlainSize = 8;
// local addr[16]/scope/port, remote addr[16]/scope/port, state, pid
constexpr size_t Tcp6RowExtendedSize = 56;
// state, local addr[16]/scope/port, remote addr[16]/scope/port
constexpr size_t Tcp6RowPlainSize = 52;
constexpr size_t Udp6RowExtendedSize = 28;  // local addr[16]/scope/port, pid
constexpr size_t Udp6RowPlainSize = 24;

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

// ---- Connection tables ----------------------------------------------------

// The order of the kinds is the order of a snapshot.
enum class TTableKind { Tcp4, Tcp6, Udp4, Udp6 };

enum class TTableRead {
  Ok,          // Table holds the table
  SizeZero,    // the plain size query reported 0 bytes: the snapshot ends here
  NotPresent,  // the system has no such table (e.g. no IPv6): it adds nothing
};

// Platform seam: the system's connection tables as raw bytes in the
// documented layouts. Failures throw std::runtime_error carrying the
// system's message.
class TTableSource {
public:
  virtual ~TTableSource() = default;
  // True when tables with owning process ids can be had. Called first in
  // every snapshot, so a source may drop what it kept from the last one.
  virtual bool BindExtendedTables() = 0;
  // Owners: when not null, the only process ids the caller cares about; rows
  // owned by other processes may carry process id 0.
  virtual TTableRead ReadTable(TTableKind Kind, bool Extended, std::vector<uint8_t>& Table,
                               const std::vector<uint32_t>* Owners) = 0;
};

TTableSource& SystemTableSource();

// The size of one row of a table of that kind.
size_t TableRowSize(TTableKind Kind, bool Extended);

// Conversion of a raw table into entries appended to List. Never reads past
// Size, whatever row count the table claims: only the whole rows that fit are
// converted. Process ids and names are filled on extended tables only; when
// Owners is not null, only owners in it are named and other entries keep an
// empty name.
void AppendTableEntries(TTableKind Kind, const uint8_t* Table, size_t Size, bool Extended,
                        TProcessNamer& Namer, const std::vector<uint32_t>* Owners,
                        TConnectionList& List);

// Appends every TCP entry (IPv4, then IPv6) and then every UDP entry (IPv4,
// then IPv6) of the machine to List. A failing table throws; the entries of
// the tables before it stay in List.
void SnapshotConnections(TConnectionList& List, TTableSource& Tables, TProcessSource& Processes,
                         const std::vector<uint32_t>* Owners = nullptr);
