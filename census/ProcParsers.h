// The kernel's socket and process tables on Linux, turned into the system's
// table layouts and process list. Everything here takes text, bytes or the
// root of a /proc tree as a parameter, so recorded content stands in for the
// machine's; the netlink socket itself is in GetConnections_linux.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
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

// ---- /proc/net/tcp, udp, tcp6, udp6 text --------------------------------------

// One line of such a file. False for the header line and for anything else
// that is not a well-formed socket line. UDP lines have their state ignored
// by the writer.
bool ParseProcNetLine(std::string_view Line, bool Ipv6, TSocketRecord& Socket);
// Every socket line of a whole text (or of complete lines of it); returns
// the number of rows added.
size_t ParseProcNetText(std::string_view Text, bool Ipv6, TTableWriter& Out);

// Reads Root + "/net/" + Name (e.g. "/proc", "tcp6") into Out, in pieces.
// False with errno set when the file cannot be opened or read.
bool ReadProcNetTable(const std::string& Root, const char* Name, bool Ipv6, TTableWriter& Out);

// ---- Netlink socket diagnostics ----------------------------------------------

// The dump request for every socket of one family (AF_INET, AF_INET6) and
// protocol (IPPROTO_TCP, IPPROTO_UDP), in all states.
std::vector<uint8_t> BuildDiagRequest(uint8_t Family, uint8_t Protocol, uint32_t Sequence);

struct TDiagResult {
  enum { More, Done, Failed } Status = More;
  int Error = 0;  // errno value when Failed
};

// One received datagram of a dump: every socket message of that Sequence and
// Family goes to Out. Done at the end of the dump; Failed for an error
// message or a malformed length. Any bytes are safe.
TDiagResult ParseDiagMessages(const uint8_t* Data, size_t Size, uint32_t Sequence,
                              uint8_t Family, bool Tcp, TTableWriter& Out);

// ---- Processes ----------------------------------------------------------------

// Every running process under Root ("/proc"), ordered by id, with the name
// the kernel reports for it (its comm). Processes that end meanwhile, those
// hidden from this user, and zombies (state Z or X in their stat), are left
// out. False, with errno set, when Root cannot be read; throws
// std::runtime_error when a process's name cannot be read for another reason
// (no descriptor left...), since the list would then miss a running process.
bool ReadProcessList(const std::string& Root, std::vector<TProcessInfo>& List);

// The target of Root/<pid>/exe when its file name equals ExeFile
// case-insensitively (a comm cut at the kernel's 15 characters matches the
// start of the name).
bool ReadExePath(const std::string& Root, uint32_t ProcessId, const std::string& ExeFile,
                 std::string& Path);

// Adds the socket inodes held open by processes under Root to Out: those of
// the ids in Owners, or of every process when Owners is null. Processes and
// descriptors that vanish are skipped. Seals Out. With Owners, a process
// whose descriptors cannot be read for any other reason (another user's,
// no descriptor left) throws std::runtime_error "Can not read the
// connections of process <pid> (<name>): <reason>": its connections would
// otherwise count as none. Without Owners such processes are skipped.
void ScanSocketOwners(const std::string& Root, const std::vector<uint32_t>* Owners,
                      TSocketOwners& Out);

// How a proc file system mount hides processes: its hidepid option as the
// kernel shows it ("" when not given; "1", "2", "4" or "noaccess",
// "invisible", "ptraceable") and its gid option.
struct TProcMountOptions {
  bool Found = false;  // a proc mount at that point
  std::string HidePid;
  bool HasGid = false;
  uint32_t Gid = 0;
};

// The options of the last proc mount at MountPoint in a mountinfo text (as
// in /proc/self/mountinfo; later mounts cover earlier ones).
TProcMountOptions ProcMountOptionsAt(std::string_view MountInfo, const std::string& MountPoint);

// True when hidepid keeps the processes of other users out of sight of a
// user who is not exempt.
bool HidesOtherUsers(const TProcMountOptions& Options);

// ---- The machine's sources ----------------------------------------------------

class TLinuxTableSource : public TTableSource {
public:
  // ProcRoot: where /proc is; UseNetlink false reads the /proc/net files only.
  explicit TLinuxTableSource(std::string ProcRoot = "/proc", bool UseNetlink = true);
  bool BindExtendedTables() override;
  TTableRead ReadTable(TTableKind Kind, bool Extended, std::vector<uint8_t>& Table,
                       const std::vector<uint32_t>* Owners) override;

private:
  bool ReadFromNetlink(TTableKind Kind, TTableWriter& Out);
  const TSocketOwners& OwnersFor(const std::vector<uint32_t>* Owners);

  std::string ProcRoot;
  bool UseNetlink;
  uint32_t Sequence = 0;
  // The owners scanned for this snapshot, and for which ids.
  bool Scanned = false;
  bool ScannedAll = false;
  std::vector<uint32_t> ScannedIds;
  TSocketOwners Scan;
};

class TLinuxProcessSource : public TProcessSource {
public:
  explicit TLinuxProcessSource(std::string ProcRoot = "/proc") : ProcRoot(std::move(ProcRoot)) {}
  // Throws std::runtime_error when the list cannot be read whole.
  bool ListProcesses(std::vector<TProcessInfo>& Processes) override;
  bool ModuleExePath(uint32_t ProcessId, const std::string& ExeFile, std::string& Path) override;
  std::string HiddenProcesses() override;

private:
  std::string ProcRoot;
};
