// The census on Windows: the connection tables of the IP helper library and
// the process list of the toolhelp functions, both bound at run time. The
// bound functions sit in plain function tables so that tests can drive the
// same decisions with recorded tables and counted calls.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "census/GetConnections.h"

// The operating system's message for an error code, without its trailing
// blanks, line breaks and full stops; empty when the system has none.
std::string SystemErrorText(uint32_t Code);

// "<the system's message> (error <code>)", or "System error <code>" for a
// code the system has no message for; codes of the NTSTATUS range are given
// in hex (0xC0000001).
std::string SystemErrorMessage(uint32_t Code);

// Returns for 0; for anything else throws std::runtime_error
// "Can not read the <Table>: " and SystemErrorMessage of the code.
void CheckIpHlpResult(uint32_t Code, const std::string& Table);

// The table functions. Any of them may be empty: the system lacks it, or
// the library could not be loaded at all.
struct TIpHelperFunctions {
  // AllocateAndGet{Tcp,Udp}ExTableFromStack: a table with owning process ids,
  // allocated from Heap.
  using TAllocateTable = std::function<DWORD(void** Table, BOOL Sort, HANDLE Heap, DWORD Flags,
                                             DWORD Family)>;
  // GetExtended{Tcp,Udp}Table, for IPv4 and IPv6.
  using TGetExtendedTable = std::function<DWORD(void* Table, DWORD* Size, BOOL Sort, ULONG Family,
                                                DWORD TableClass)>;

  TAllocateTable AllocateTcpExTable, AllocateUdpExTable;
  TGetExtendedTable GetExtendedTcpTable, GetExtendedUdpTable;
  // Why the library could not be loaded (the system's error code); 0 when
  // it was.
  DWORD LoadError = 0;

  // The heap the allocating functions use, the size of a block on it and its
  // release.
  HANDLE Heap = nullptr;
  std::function<size_t(void* Block)> BlockSize;
  std::function<void(void* Block)> FreeBlock;
};

// Finds the functions in "iphlpapi.dll", loaded from the system folder.
TIpHelperFunctions BindIpHelperFunctions();

// How a snapshot reads its tables. Both give every socket's owner; tables
// without owners would count nothing, so a system without the functions of
// either path ends the snapshot with an error instead.
enum class TTablePath {
  Allocating,   // AllocateAndGet...ExTableFromStack (IPv6: GetExtended...Table)
  ExtendedGet,  // GetExtended...Table (every system since XP SP2)
};

// How one table read ends.
enum class TTableRead {
  Ok,          // Table holds the table
  NotPresent,  // the system has no such table (e.g. no IPv6): it adds nothing
};

// The sockets of the system's connection tables, on the richest path the
// system offers, bound anew for every snapshot.
class TWin32TableSource : public TSocketSource {
public:
  // Growth retries: how many times a table that grew between its size query
  // and its fill (or that a loaded system failed to fill) is asked for again
  // before the error stands.
  static constexpr int GrowthRetries = 4;
  // The buffer a table without a size query is read into first: some
  // 10,000 IPv4 rows of an owner table.
  static constexpr unsigned long FirstOwnerTableSize = 256 * 1024;

  explicit TWin32TableSource(std::function<TIpHelperFunctions()> Bind = BindIpHelperFunctions)
      : Bind(std::move(Bind)) {}

  // Every owner comes with the rows; Owners narrows nothing. Beside a table
  // that cannot be read, a library that cannot be loaded throws
  // "Can not load iphlpapi.dll: <SystemErrorMessage>", and one without the
  // functions of either path "Can not find <function> in iphlpapi.dll: ...".
  void ReadSockets(const std::vector<uint32_t>& Owners, TSocketList& Sockets) override;

  // The path of the last snapshot.
  TTablePath Path() const { return CurrentPath; }

private:
  // Binds the functions and chooses the path; throws when there is none.
  void BindOwnerTables();
  TTableRead ReadTable(TTableKind Kind, std::vector<uint8_t>& Table);

  std::function<TIpHelperFunctions()> Bind;
  TIpHelperFunctions Functions;
  TTablePath CurrentPath = TTablePath::ExtendedGet;
};

// The toolhelp functions. Any of them may be empty: the system lacks it.
struct TToolHelpFunctions {
  std::function<HANDLE(DWORD Flags, DWORD ProcessId)> CreateSnapshot;
  std::function<BOOL(HANDLE Snapshot, PROCESSENTRY32W* Entry)> Process32First, Process32Next;
  std::function<BOOL(HANDLE Snapshot, MODULEENTRY32W* Entry)> Module32First, Module32Next;
  std::function<BOOL(HANDLE Snapshot)> CloseSnapshot;
};

// Finds the functions in the already loaded "kernel32.dll".
TToolHelpFunctions BindToolHelp();

class TWin32ProcessSource : public TProcessSource {
public:
  explicit TWin32ProcessSource(std::function<TToolHelpFunctions()> Bind = BindToolHelp)
      : Bind(std::move(Bind)) {}

  bool ListProcesses(std::vector<TProcessInfo>& Processes) override;
  bool ModuleExePath(uint32_t ProcessId, const std::string& ExeFile, std::string& Path) override;
  uint32_t OwnProcessId() override { return GetCurrentProcessId(); }
  // By the image's full path (QueryFullProcessImageNameW, bound at run time)
  // and the identity of that file and of the program's own: volume serial
  // number and file index, or where a file cannot be opened, the canonical
  // paths, case ignored.
  bool RunsOwnImage(uint32_t ProcessId) override;

private:
  // Binds on first use; while the functions cannot be found, every use
  // tries again.
  const TToolHelpFunctions& Functions();

  std::function<TToolHelpFunctions()> Bind;
  TToolHelpFunctions Bound;
};
