// The Windows census: the path choice, the table reads and the toolhelp walk
// with recorded tables and counted calls.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>

#include "census/GetConnections_win32.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "testing/FakeCensus.h"

namespace {

// ---- Recorded tables --------------------------------------------------------

// A Get...Table stand-in. Call 0 is normally the size query; call k sees
// Versions[k] (the last one repeats), so a table can grow between calls.
// Without versions the system does not support the table (no IPv6).
struct TServedTable {
  std::vector<std::vector<uint8_t>> Versions;
  int Calls = 0;
  DWORD FailFirst = 0;  // what the first call gives instead, when set

  DWORD Serve(void* Buffer, DWORD* Size) {
    if (const DWORD Failure = std::exchange(FailFirst, 0)) {
      ++Calls;
      return Failure;
    }
    if (Versions.empty()) {
      ++Calls;
      return ERROR_NOT_SUPPORTED;
    }
    const std::vector<uint8_t>& Now =
        Versions[std::min<size_t>(static_cast<size_t>(Calls), Versions.size() - 1)];
    ++Calls;
    if (Buffer == nullptr || *Size < Now.size()) {
      *Size = static_cast<DWORD>(Now.size());
      return ERROR_INSUFFICIENT_BUFFER;
    }
    std::memcpy(Buffer, Now.data(), Now.size());
    return NO_ERROR;
  }
};

std::vector<uint8_t> ExtendedTcp(int Rows, uint32_t Pid = 100) {
  TTableBytes Table;
  for (int i = 0; i < Rows; ++i)
    Table.Tcp(5, {10, 0, 0, 5}, 25, {192, 168, 1, uint8_t(20 + i)}, uint16_t(50000 + i), Pid);
  return Table.Bytes;
}

struct TCensus {
  TFakeProcessSource Processes;
  TConnectionList List;
  // The owners the tests' rows carry.
  void Take(TSocketSource& Sockets) {
    SnapshotConnections(List, Sockets, Processes, {77, 100, 1234});
  }
  // What a census that fails says; empty when it succeeds.
  std::string Failure(TSocketSource& Sockets) {
    try {
      Take(Sockets);
    } catch (const std::runtime_error& Error) {
      return Error.what();
    }
    return {};
  }
};

// The richest path the system offers. Without the functions of either path
// no table gives owners, and a census without owners would count nothing:
// the census fails, naming the missing function and the system's error.
TEST(TablePathWin32, TakesTheRichestPathTheSystemOffersAndNeverOneWithoutOwners) {
  const auto Allocate = [](void**, BOOL, HANDLE, DWORD, DWORD) -> DWORD { return 0; };
  const auto GetExtended = [](void*, DWORD*, BOOL, ULONG, DWORD) -> DWORD { return 0; };
  const std::string NotFound = ": " + SystemErrorText(ERROR_PROC_NOT_FOUND) + " (error 127)";
  const struct {
    const char* System;
    bool AllocTcp, AllocUdp, ExtTcp, ExtUdp;
    TTablePath Expected;
    std::string Failure;  // what the census says instead, when it fails
  } Cases[] = {
      {"every function", true, true, true, true, TTablePath::Allocating, ""},
      {"allocating functions alone", true, true, false, false, TTablePath::Allocating, ""},
      // Every system since Vista: without this the owners would be lost.
      {"owner tables alone", false, false, true, true, TTablePath::ExtendedGet, ""},
      {"one allocating function (Wine)", true, false, true, true, TTablePath::ExtendedGet, ""},
      {"half of each pair", true, false, false, true, TTablePath::ExtendedGet,
       "Can not find GetExtendedTcpTable in iphlpapi.dll" + NotFound},
      {"no UDP owner table", false, true, true, false, TTablePath::ExtendedGet,
       "Can not find GetExtendedUdpTable in iphlpapi.dll" + NotFound},
      {"no owner functions", false, false, false, false, TTablePath::ExtendedGet,
       "Can not find GetExtendedTcpTable in iphlpapi.dll" + NotFound},
  };
  for (const auto& Case : Cases) {
    TWin32TableSource Source([&] {
      TIpHelperFunctions F;
      if (Case.AllocTcp) F.AllocateTcpExTable = Allocate;
      if (Case.AllocUdp) F.AllocateUdpExTable = Allocate;
      if (Case.ExtTcp) F.GetExtendedTcpTable = GetExtended;
      if (Case.ExtUdp) F.GetExtendedUdpTable = GetExtended;
      return F;
    });
    TCensus Census;
    EXPECT_EQ(Census.Failure(Source), Case.Failure) << Case.System;
    EXPECT_TRUE(Census.List.empty()) << Case.System;
    if (Case.Failure.empty()) {
      EXPECT_EQ(Source.Path(), Case.Expected) << Case.System;
    }
  }
}

// A library that could not be loaded (missing, damaged, kept away) gives no
// function at all: the census fails with the system's reason.
TEST(TablePathWin32, ALibraryThatCannotBeLoadedFailsTheCensusWithTheSystemsReason) {
  for (const DWORD Error : {DWORD(ERROR_MOD_NOT_FOUND), DWORD(ERROR_BAD_EXE_FORMAT),
                            DWORD(ERROR_ACCESS_DENIED)}) {
    TWin32TableSource Source([Error] {
      TIpHelperFunctions F;
      F.LoadError = Error;
      return F;
    });
    EXPECT_EQ(TCensus().Failure(Source),
              "Can not load iphlpapi.dll: " + SystemErrorText(Error) + " (error " +
                  std::to_string(Error) + ")");
  }
}

// The allocating functions: tables on the process heap, released after the
// conversion, also when the conversion is cut short.
struct TAllocatingSystem {
  std::map<int, std::vector<uint8_t>> Tables;  // 0 TCP, 1 UDP
  std::map<int, DWORD> Results;
  std::vector<void*> Allocated, Freed;
  std::vector<std::string> Calls;

  TIpHelperFunctions Functions() {
    TIpHelperFunctions F;
    F.Heap = GetProcessHeap();
    F.AllocateTcpExTable = [this](void** Table, BOOL Sort, HANDLE Heap, DWORD Flags, DWORD Family) {
      return Allocate(0, Table, Sort, Heap, Flags, Family);
    };
    F.AllocateUdpExTable = [this](void** Table, BOOL Sort, HANDLE Heap, DWORD Flags, DWORD Family) {
      return Allocate(1, Table, Sort, Heap, Flags, Family);
    };
    F.BlockSize = [](void* Block) { return size_t(HeapSize(GetProcessHeap(), 0, Block)); };
    F.FreeBlock = [this](void* Block) {
      Freed.push_back(Block);
      HeapFree(GetProcessHeap(), 0, Block);
    };
    return F;
  }

  DWORD Allocate(int Kind, void** Table, BOOL Sort, HANDLE Heap, DWORD Flags, DWORD Family) {
    Calls.push_back(std::to_string(Kind) + " sort=" + std::to_string(Sort) +
                    " heap=" + std::to_string(Heap == GetProcessHeap()) +
                    " flags=" + std::to_string(Flags) + " family=" + std::to_string(Family));
    if (Results.count(Kind)) return Results[Kind];
    const std::vector<uint8_t>& Bytes = Tables[Kind];
    *Table = HeapAlloc(Heap, 0, Bytes.size());
    std::memcpy(*Table, Bytes.data(), Bytes.size());
    Allocated.push_back(*Table);
    return NO_ERROR;
  }
};

TEST(TablesWin32, AllocatingPathConvertsAndReleasesEachTable) {
  TAllocatingSystem System;
  System.Tables[0] = ExtendedTcp(2, 1234);
  System.Tables[1] = TTableBytes().Udp({0, 0, 0, 0}, 53, 77).Bytes;
  TWin32TableSource Source([&] { return System.Functions(); });
  TCensus Census;
  Census.Processes.Processes = {{1234, "ORVANE.EXE"}, {77, "dns.exe"}};
  Census.Processes.ModulePaths[1234] = "D:\\Mail\\App\\Orvane.exe";
  Census.Take(Source);

  EXPECT_EQ(System.Calls, (std::vector<std::string>{"0 sort=1 heap=1 flags=0 family=2",
                                                    "1 sort=1 heap=1 flags=0 family=2"}));
  EXPECT_EQ(System.Freed, System.Allocated);
  ASSERT_EQ(Census.List.size(), 3u);
  EXPECT_EQ(Census.List[1].RemotePort, 50001);
  EXPECT_EQ(Census.List[1].ProcessId, 1234u);
  EXPECT_EQ(Census.List[1].ProcessName, "D:\\Mail\\App\\Orvane.exe");
  EXPECT_EQ(Census.List[2].Protocol, 1);
  EXPECT_EQ(Census.List[2].ProcessName, "dns.exe");
}

TEST(TablesWin32, AllocatedTableIsNeverReadPastItsBlock) {
  TAllocatingSystem System;
  System.Tables[0] = ExtendedTcp(2);
  System.Tables[0][0] = 0xFF;  // claims 255 rows
  System.Tables[1] = TTableBytes().Bytes;
  TWin32TableSource Source([&] { return System.Functions(); });
  TCensus Census;
  Census.Take(Source);
  EXPECT_EQ(Census.List.size(), 2u);
  EXPECT_EQ(System.Freed.size(), 2u);
}

TEST(TablesWin32, FailingTableRaisesTheSystemMessageAndKeepsEarlierEntries) {
  TAllocatingSystem System;
  System.Tables[0] = ExtendedTcp(3);
  System.Results[1] = ERROR_NOT_SUPPORTED;
  TWin32TableSource Source([&] { return System.Functions(); });
  TCensus Census;
  EXPECT_EQ(Census.Failure(Source), "Can not read the UDP owner table: " +
                                        SystemErrorText(ERROR_NOT_SUPPORTED) + " (error 50)");
  EXPECT_EQ(Census.List.size(), 3u);
  EXPECT_EQ(System.Freed, System.Allocated);
}

// What GetExtended...Table is asked for, call by call.
struct TExtendedGetSystem {
  TServedTable Tcp, Udp, Tcp6, Udp6;
  std::vector<std::string> Requests;

  TIpHelperFunctions Functions() {
    TIpHelperFunctions F;
    F.GetExtendedTcpTable = [this](void* Table, DWORD* Size, BOOL Sort, ULONG Family, DWORD Class) {
      Requests.push_back("tcp sort=" + std::to_string(Sort) + " family=" + std::to_string(Family) +
                         " class=" + std::to_string(Class));
      return (Family == 23 ? Tcp6 : Tcp).Serve(Table, Size);
    };
    F.GetExtendedUdpTable = [this](void* Table, DWORD* Size, BOOL Sort, ULONG Family, DWORD Class) {
      Requests.push_back("udp sort=" + std::to_string(Sort) + " family=" + std::to_string(Family) +
                         " class=" + std::to_string(Class));
      return (Family == 23 ? Udp6 : Udp).Serve(Table, Size);
    };
    return F;
  }
};

TEST(TablesWin32, OwnerTablesAreReadWhenTheAllocatingFunctionsAreMissing) {
  TExtendedGetSystem System;
  const TTableBytes::TAddress6 Loopback6 = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  System.Tcp.Versions = {ExtendedTcp(2, 1234)};
  System.Tcp6.Versions = {TTableBytes().Tcp6(5, Loopback6, 0, 25, Loopback6, 0, 40000, 1234).Bytes};
  System.Udp.Versions = {TTableBytes().Udp({127, 0, 0, 1}, 53, 1234).Bytes};
  TWin32TableSource Source([&] { return System.Functions(); });
  TCensus Census;
  Census.Processes.Processes = {{1234, "Orvane.exe"}};
  Census.Take(Source);

  // TCP_TABLE_OWNER_PID_ALL and UDP_TABLE_OWNER_PID, IPv4 and IPv6, sorted,
  // one call each (no size query: the tables fit the first buffer); this
  // system has no IPv6 UDP table.
  EXPECT_EQ(System.Requests, (std::vector<std::string>{
                                 "tcp sort=1 family=2 class=5", "tcp sort=1 family=23 class=5",
                                 "udp sort=1 family=2 class=1", "udp sort=1 family=23 class=1"}));
  ASSERT_EQ(Census.List.size(), 4u);
  for (const TListEntry& Entry : Census.List) {
    EXPECT_EQ(Entry.ProcessId, 1234u);
    EXPECT_EQ(Entry.ProcessName, "Orvane.exe");
  }
  EXPECT_EQ(Census.List[1].RemotePort, 50001);
  EXPECT_EQ(Census.List[2].LocalAddress, "::1");
  EXPECT_EQ(Census.List[2].RemotePort, 40000);
  EXPECT_EQ(Census.List[3].LocalAddress, "127.0.0.1");
}

// Owner tables as a busy Windows server gives them: the rows no process
// holds (TIME_WAIT, half-open) carry process id 0, IPv6 and dual-stack rows
// alike; rows of other processes carry their own id.
TEST(TablesWin32, OwnerTableRowsOfNoProcessAreNobodys) {
  using TAddress6 = TTableBytes::TAddress6;
  const TAddress6 Any6 = {};
  const TAddress6 Server6 = {0x20, 0x01, 0x0D, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5};
  const TAddress6 Mapped = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 203, 0, 113, 9};
  TTableBytes Tcp, Tcp6;
  Tcp.Tcp(TcpStateListening, {0, 0, 0, 0}, 143, {0, 0, 0, 0}, 0, 1234);
  Tcp.Tcp(TcpStateEstablished, {10, 0, 0, 5}, 143, {198, 51, 100, 7}, 50000, 1234);
  Tcp.Tcp(TcpStateTimeWait, {10, 0, 0, 5}, 143, {198, 51, 100, 7}, 50001, 0);
  Tcp.Tcp(TcpStateSynReceived, {10, 0, 0, 5}, 143, {198, 51, 100, 8}, 50002, 0);
  Tcp.Tcp(TcpStateEstablished, {10, 0, 0, 5}, 143, {198, 51, 100, 9}, 50003, 4242);
  Tcp6.Tcp6(TcpStateListening, Any6, 0, 993, Any6, 0, 0, 1234);
  Tcp6.Tcp6(TcpStateTimeWait, Server6, 0, 993, Mapped, 0, 40000, 0);
  Tcp6.Tcp6(TcpStateSynReceived, Server6, 0, 993, Mapped, 0, 40001, 0);
  TExtendedGetSystem System;
  System.Tcp.Versions = {Tcp.Bytes};
  System.Tcp6.Versions = {Tcp6.Bytes};
  System.Udp.Versions = {TTableBytes().Bytes};
  TWin32TableSource Source([&] { return System.Functions(); });
  TCensus Census;
  Census.Processes.Processes = {{1234, "Orvane.exe"}, {4242, "other.exe"}};
  Census.Take(Source);
  const struct {
    int32_t State;
    TOwner Owner;
    uint32_t ProcessId;
  } Expected[] = {
      {TcpStateListening, TOwner::Process, 1234}, {TcpStateEstablished, TOwner::Process, 1234},
      {TcpStateTimeWait, TOwner::Nobody, 0},      {TcpStateSynReceived, TOwner::Nobody, 0},
      {TcpStateEstablished, TOwner::Other, 4242}, {TcpStateListening, TOwner::Process, 1234},
      {TcpStateTimeWait, TOwner::Nobody, 0},      {TcpStateSynReceived, TOwner::Nobody, 0},
  };
  ASSERT_EQ(Census.List.size(), std::size(Expected));
  for (size_t Index = 0; Index < Census.List.size(); ++Index) {
    const TListEntry& Entry = Census.List[Index];
    EXPECT_EQ(Entry.State, Expected[Index].State) << Index;
    EXPECT_EQ(Entry.Owner, Expected[Index].Owner) << Index;
    EXPECT_EQ(Entry.ProcessId, Expected[Index].ProcessId) << Index;
  }
  // The addresses as bytes beside their text.
  EXPECT_TRUE(Census.List[6].Ipv6);
  EXPECT_EQ(0, std::memcmp(Census.List[6].LocalBytes, Server6.data(), 16));
  EXPECT_EQ(0, std::memcmp(Census.List[6].RemoteBytes, Mapped.data(), 16));
  EXPECT_EQ(Census.List[6].RemoteAddress, "::ffff:203.0.113.9");
  const uint8_t Remote4[16] = {198, 51, 100, 8};
  EXPECT_EQ(0, std::memcmp(Census.List[3].RemoteBytes, Remote4, 16));
}

// A busy server opens connections between the first buffer (too small for
// an owner table this large) and the fill.
TEST(TablesWin32, TableThatGrewIsAskedForAgain) {
  TExtendedGetSystem Owners;
  // Beyond the room for a few more rows that a resized buffer has.
  const int Rows = TWin32TableSource::FirstOwnerTableSize / 24 + 1, Grown = Rows + 20;
  Owners.Tcp.Versions = {ExtendedTcp(Rows), ExtendedTcp(Grown)};
  Owners.Udp.Versions = {TTableBytes().Bytes};
  TWin32TableSource Source([&] { return Owners.Functions(); });
  TCensus Census;
  Census.Take(Source);
  EXPECT_EQ(Census.List.size(), size_t(Grown));
  EXPECT_EQ(Owners.Tcp.Calls, 3);  // the first buffer, and two fills
}

// A loaded system fails a table read now and then: once is passed over like
// a table that grew, and only an error that stands ends the check, naming the
// table and the code.
const struct {
  DWORD Code;
  std::string Shown;  // after "Can not read the <table>: "
} PassingErrors[] = {
    {ERROR_INSUFFICIENT_BUFFER, SystemErrorText(ERROR_INSUFFICIENT_BUFFER) + " (error 122)"},
    {0xC0000001, "System error 0xC0000001"},  // STATUS_UNSUCCESSFUL, which has no text
    {ERROR_OUTOFMEMORY, SystemErrorText(ERROR_OUTOFMEMORY) + " (error 14)"},
    {ERROR_NOT_ENOUGH_MEMORY, SystemErrorText(ERROR_NOT_ENOUGH_MEMORY) + " (error 8)"},
};

TEST(TablesWin32, LoadErrorOnceIsAskedForAgain) {
  for (const auto& Error : PassingErrors) {
    SCOPED_TRACE(Error.Shown);
    TExtendedGetSystem System;
    System.Tcp.Versions = {ExtendedTcp(3)};
    System.Tcp.FailFirst = Error.Code;
    System.Udp.Versions = {TTableBytes().Bytes};
    TWin32TableSource Source([&] { return System.Functions(); });
    TCensus Census;
    Census.Take(Source);
    EXPECT_EQ(Census.List.size(), 3u);
    EXPECT_EQ(System.Tcp.Calls, 2);
  }
}

TEST(TablesWin32, TableErrorThatStandsFailsAfterBoundedRetries) {
  for (const auto& Error : PassingErrors) {
    SCOPED_TRACE(Error.Shown);
    int Fills = 0;
    const auto Failing = [&Fills, &Error](void* Table, DWORD* Size) -> DWORD {
      if (Table) ++Fills;
      *Size += 1000;
      return Error.Code;
    };
    TWin32TableSource Source([&] {
      TIpHelperFunctions F;
      F.GetExtendedTcpTable = [&](void* T, DWORD* S, BOOL, ULONG, DWORD) { return Failing(T, S); };
      F.GetExtendedUdpTable = F.GetExtendedTcpTable;
      return F;
    });
    EXPECT_EQ(TCensus().Failure(Source), "Can not read the TCP owner table: " + Error.Shown);
    // The first buffer stands in for a size query.
    EXPECT_EQ(Fills, 2 + TWin32TableSource::GrowthRetries);
  }
}

TEST(SystemErrorTextWin32, GivesTheSystemMessageTrimmed) {
  const std::string AccessDenied = SystemErrorText(ERROR_ACCESS_DENIED);
  ASSERT_FALSE(AccessDenied.empty());
  const char Last = AccessDenied.back();
  EXPECT_TRUE(Last != '.' && static_cast<unsigned char>(Last) > ' ') << AccessDenied;
  EXPECT_EQ(SystemErrorText(0x7FFFFF00u), "");

  EXPECT_NO_THROW(CheckIpHlpResult(0, "TCP table"));
}

// ---- Recorded process lists ---------------------------------------------------

// The toolhelp functions over a recorded process list, with every snapshot
// counted.
struct TFakeToolHelp {
  struct TModule {
    std::wstring Name, Path;
  };
  struct TProcess {
    DWORD Id;
    std::wstring ExeFile;
    std::vector<TModule> Modules;
    bool RefuseModules = false;
  };
  std::vector<TProcess> Processes;
  bool RefuseProcesses = false;
  int ProcessSnapshots = 0, ModuleSnapshots = 0, Closed = 0;
  std::vector<DWORD> ModuleFlags;

  struct TOpen {
    const TProcess* Modules;  // null for a process snapshot
    size_t Next = 0;
  };
  std::map<HANDLE, TOpen> Open;
  uintptr_t NextHandle = 0x100;

  TToolHelpFunctions Functions() {
    TToolHelpFunctions F;
    F.CreateSnapshot = [this](DWORD Flags, DWORD Id) -> HANDLE {
      const HANDLE Handle = reinterpret_cast<HANDLE>(NextHandle += 4);
      if (Flags == TH32CS_SNAPPROCESS) {
        ++ProcessSnapshots;
        if (RefuseProcesses) return INVALID_HANDLE_VALUE;
        Open[Handle] = {nullptr};
        return Handle;
      }
      ++ModuleSnapshots;
      ModuleFlags.push_back(Flags);
      for (const TProcess& Process : Processes)
        if (Process.Id == Id && !Process.RefuseModules) {
          Open[Handle] = {&Process};
          return Handle;
        }
      return INVALID_HANDLE_VALUE;
    };
    F.Process32First = [this](HANDLE H, PROCESSENTRY32W* E) { return WalkProcess(H, E, true); };
    F.Process32Next = [this](HANDLE H, PROCESSENTRY32W* E) { return WalkProcess(H, E, false); };
    F.Module32First = [this](HANDLE H, MODULEENTRY32W* E) { return WalkModule(H, E, true); };
    F.Module32Next = [this](HANDLE H, MODULEENTRY32W* E) { return WalkModule(H, E, false); };
    F.CloseSnapshot = [this](HANDLE H) {
      ++Closed;
      return BOOL(Open.erase(H) == 1);
    };
    return F;
  }

  template <size_t N>
  static void Fill(wchar_t (&Array)[N], const std::wstring& Text) {
    std::fill(Array, Array + N, L'\0');
    std::copy_n(Text.begin(), std::min(N, Text.size()), Array);
  }

  BOOL WalkProcess(HANDLE H, PROCESSENTRY32W* Entry, bool First) {
    auto Found = Open.find(H);
    // The system refuses a record whose size was not set.
    if (Found == Open.end() || Found->second.Modules || Entry->dwSize != sizeof *Entry) return FALSE;
    if (First) Found->second.Next = 0;
    if (Found->second.Next >= Processes.size()) return FALSE;
    const TProcess& Process = Processes[Found->second.Next++];
    Entry->th32ProcessID = Process.Id;
    Fill(Entry->szExeFile, Process.ExeFile);
    return TRUE;
  }

  BOOL WalkModule(HANDLE H, MODULEENTRY32W* Entry, bool First) {
    auto Found = Open.find(H);
    if (Found == Open.end() || !Found->second.Modules || Entry->dwSize != sizeof *Entry) return FALSE;
    if (First) Found->second.Next = 0;
    const auto& Modules = Found->second.Modules->Modules;
    if (Found->second.Next >= Modules.size()) return FALSE;
    const TModule& Module = Modules[Found->second.Next++];
    Fill(Entry->szModule, Module.Name);
    Fill(Entry->szExePath, Module.Path);
    return TRUE;
  }
};

TEST(ProcessNamesWin32, NamesProcessesTheWayTheSystemListsThem) {
  const std::wstring Unterminated(260, L'x');
  TFakeToolHelp System;
  System.Processes = {
      {4, L"System", {}, true},
      {1234, L"ORVANE.EXE", {{L"ntdll.dll", L"C:\\Windows\\ntdll.dll"},
                             {L"Orvane.exe", L"D:\\Mail\\App\\Orvane.exe"}}},
      {1300, L"ORVANE.EXE", {}, true},
      {1400, L"Lumicourt.exe", {{L"Lumicourt.dll", L"D:\\Mail\\Lumicourt\\Lumicourt.dll"}}},
      {1500, Unterminated, {}},
      {1600, L"Helmstead.exe", {{L"Helmstead.exe", L"E:\\H\u00e4lm\\Helmstead.exe"}}},
      {1234, L"second entry with a used id", {}},
  };
  TWin32ProcessSource Processes([&] { return System.Functions(); });
  const struct {
    uint32_t Id;
    std::string Expected;
  } Cases[] = {
      {1234, "D:\\Mail\\App\\Orvane.exe"},  // names match whatever their case
      {1300, "ORVANE.EXE"},                 // module snapshot refused
      {1400, "Lumicourt.exe"},              // no module of that name
      {1500, std::string(260, 'x')},        // a full array without NUL
      {1600, "E:\\H\xC3\xA4lm\\Helmstead.exe"},
      {999, "?"},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(ProcessNameFromId(Case.Id, Processes), Case.Expected) << Case.Id;
  // Every snapshot taken was closed.
  EXPECT_TRUE(System.Open.empty());
  const DWORD ModuleFlags = TH32CS_SNAPMODULE | (sizeof(void*) == 8 ? TH32CS_SNAPMODULE32 : 0);
  for (const DWORD Flags : System.ModuleFlags) EXPECT_EQ(Flags, ModuleFlags);
}

TEST(ProcessNamesWin32, RefusedOrMissingToolHelpNamesNobody) {
  TFakeToolHelp Refusing;
  Refusing.Processes = {{1234, L"Orvane.exe", {}}};
  Refusing.RefuseProcesses = true;
  TWin32ProcessSource Refused([&] { return Refusing.Functions(); });
  EXPECT_EQ(ProcessNameFromId(1234, Refused), "?");

  int Binds = 0;
  TWin32ProcessSource Missing([&] {
    ++Binds;
    return TToolHelpFunctions();
  });
  std::vector<TProcessInfo> List;
  EXPECT_FALSE(Missing.ListProcesses(List));
  EXPECT_EQ(ProcessNameFromId(1234, Missing), "?");
  // While the functions can't be found, each use looks again.
  EXPECT_EQ(Binds, 2);

  int Found = 0;
  TFakeToolHelp System;
  TWin32ProcessSource Bound([&] {
    ++Found;
    return System.Functions();
  });
  for (int i = 0; i < 3; ++i) Bound.ListProcesses(List);
  EXPECT_EQ(Found, 1);
}

// One census: one process snapshot, and at most one module snapshot per
// distinct owner, however many rows each owner has.
TEST(ProcessNamesWin32, CensusTakesOneProcessSnapshotAndOneModuleSnapshotPerOwner) {
  TFakeToolHelp System;
  System.Processes = {{100, L"Orvane.exe", {{L"Orvane.exe", L"D:\\App\\Orvane.exe"}}},
                      {200, L"Lumicourt.exe", {{L"Lumicourt.exe", L"D:\\Lumicourt\\Lumicourt.exe"}}}};
  TExtendedGetSystem Tables;
  TTableBytes Tcp;
  for (const uint32_t Pid : {100u, 100u, 200u, 100u, 300u, 200u})
    Tcp.Tcp(5, {10, 0, 0, 1}, 25, {10, 0, 0, 2}, 40000, Pid);
  Tables.Tcp.Versions = {Tcp.Bytes};
  Tables.Udp.Versions = {TTableBytes().Udp({0, 0, 0, 0}, 53, 100).Bytes};
  TWin32TableSource Source([&] { return Tables.Functions(); });
  TWin32ProcessSource Processes([&] { return System.Functions(); });
  TConnectionList List;
  SnapshotConnections(List, Source, Processes, {100, 200, 300});

  ASSERT_EQ(List.size(), 7u);
  EXPECT_EQ(List[0].ProcessName, "D:\\App\\Orvane.exe");
  EXPECT_EQ(List[2].ProcessName, "D:\\Lumicourt\\Lumicourt.exe");
  EXPECT_EQ(List[4].ProcessName, "?");
  EXPECT_EQ(System.ProcessSnapshots, 1);
  EXPECT_EQ(System.ModuleSnapshots, 2);
  EXPECT_TRUE(System.Open.empty());
}

}  // namespace
