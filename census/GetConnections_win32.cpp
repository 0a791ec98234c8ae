// The census on Windows.
#include "census/GetConnections_win32.h"

#include <iphlpapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "common/FullPath_win32.h"
#include "common/SystemFunction_win32.h"
#include "common/WideText_win32.h"

// The record layouts of the target: the 32-bit program exchanges the classic
// sizes with the system.
static_assert(sizeof(PROCESSENTRY32W) == (sizeof(void*) == 4 ? 556 : 568), "PROCESSENTRY32W");
static_assert(sizeof(MODULEENTRY32W) == (sizeof(void*) == 4 ? 1064 : 1080), "MODULEENTRY32W");

namespace {

constexpr ULONG FamilyIPv4 = 2;   // AF_INET
constexpr ULONG FamilyIPv6 = 23;  // AF_INET6

// The table functions' STATUS_UNSUCCESSFUL, which a loaded system gives
// now and then and which a second call usually doesn't.
constexpr DWORD StatusUnsuccessful = 0xC0000001;

// The library of the connection tables.
constexpr char IpHelperLibrary[] = "iphlpapi.dll";

// The table's name in messages.
std::string TableName(TTableKind Kind) {
  const bool Ipv6 = Kind == TTableKind::Tcp6 || Kind == TTableKind::Udp6;
  const bool Tcp = Kind == TTableKind::Tcp4 || Kind == TTableKind::Tcp6;
  return std::string(Ipv6 ? "IPv6 " : "") + (Tcp ? "TCP" : "UDP") + " owner table";
}

template <typename TFunction, typename TPointer>
void BindIfFound(TFunction& Slot, TPointer Pointer) {
  if (Pointer != nullptr) Slot = Pointer;
}

}  // namespace

std::string SystemErrorText(uint32_t Code) {
  // Room for the longest message the system can format.
  std::vector<wchar_t> Buffer(32768);
  DWORD Length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, Code, 0, Buffer.data(),
                                static_cast<DWORD>(Buffer.size()), nullptr);
  while (Length > 0 && (Buffer[Length - 1] <= L' ' || Buffer[Length - 1] == L'.')) --Length;
  return Utf8FromWide(Buffer.data(), Length);
}

std::string SystemErrorMessage(uint32_t Code) {
  // Codes from the NTSTATUS range read better in hex, as they are published.
  char Number[16];
  std::snprintf(Number, sizeof Number, Code >= 0x80000000u ? "0x%08X" : "%u",
                static_cast<unsigned>(Code));
  const std::string Message = SystemErrorText(Code);
  // The code keeps a failure of the system's apart from the program's own
  // (an "Out of memory" of the system is not one of the program's).
  if (Message.empty()) return std::string("System error ") + Number;
  return Message + " (error " + Number + ")";
}

void CheckIpHlpResult(uint32_t Code, const std::string& Table) {
  if (Code == 0) return;
  throw std::runtime_error("Can not read the " + Table + ": " + SystemErrorMessage(Code));
}

// ---- Connection tables ----------------------------------------------------

namespace {

// The IP helper library from the system folder, by its full path: it is not
// one of the libraries Windows always takes from there, so a copy planted in
// the program's folder (where agents install checks, and which they run with
// their rights) would otherwise be found first. Loaded once, kept to the end;
// when it cannot be, the system's error code says why.
struct TLoadedLibrary {
  HMODULE Module = nullptr;
  DWORD Error = 0;
};

const TLoadedLibrary& IpHelperModule() {
  static const TLoadedLibrary Library = [] {
    TLoadedLibrary Loaded;
    std::wstring Path(MAX_PATH, L'\0');
    const UINT Length = GetSystemDirectoryW(&Path[0], MAX_PATH);
    if (Length == 0 || Length >= MAX_PATH) {
      Loaded.Error = Length == 0 ? GetLastError() : DWORD(ERROR_FILENAME_EXCED_RANGE);
      return Loaded;
    }
    Path.resize(Length);
    Path += L"\\iphlpapi.dll";
    // Its own imports from the system folder too; systems without that flag
    // (Vista and 7 before their update) refuse it, and take them from the
    // library's own folder instead.
    Loaded.Module = LoadLibraryExW(Path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (Loaded.Module == nullptr)
      Loaded.Module = LoadLibraryExW(Path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (Loaded.Module == nullptr) Loaded.Error = GetLastError();
    if (Loaded.Module == nullptr && Loaded.Error == 0) Loaded.Error = ERROR_MOD_NOT_FOUND;
    return Loaded;
  }();
  return Library;
}

}  // namespace

TIpHelperFunctions BindIpHelperFunctions() {
  TIpHelperFunctions Functions;
  Functions.Heap = GetProcessHeap();
  Functions.BlockSize = [](void* Block) {
    const SIZE_T Size = HeapSize(GetProcessHeap(), 0, Block);
    return Size == static_cast<SIZE_T>(-1) ? size_t(0) : size_t(Size);
  };
  Functions.FreeBlock = [](void* Block) { HeapFree(GetProcessHeap(), 0, Block); };

  const TLoadedLibrary& Library = IpHelperModule();
  if (Library.Module == nullptr) {
    Functions.LoadError = Library.Error;
    return Functions;
  }
  const HMODULE Module = Library.Module;
  using TAllocate = DWORD(WINAPI*)(void**, BOOL, HANDLE, DWORD, DWORD);
  using TGetExtended = DWORD(WINAPI*)(void*, DWORD*, BOOL, ULONG, DWORD, ULONG);
  BindIfFound(Functions.AllocateTcpExTable,
              Lookup<TAllocate>(Module, "AllocateAndGetTcpExTableFromStack"));
  BindIfFound(Functions.AllocateUdpExTable,
              Lookup<TAllocate>(Module, "AllocateAndGetUdpExTableFromStack"));
  if (const auto Tcp = Lookup<TGetExtended>(Module, "GetExtendedTcpTable"))
    Functions.GetExtendedTcpTable = [Tcp](void* Table, DWORD* Size, BOOL Sort, ULONG Family,
                                          DWORD Class) {
      return Tcp(Table, Size, Sort, Family, Class, 0);
    };
  if (const auto Udp = Lookup<TGetExtended>(Module, "GetExtendedUdpTable"))
    Functions.GetExtendedUdpTable = [Udp](void* Table, DWORD* Size, BOOL Sort, ULONG Family,
                                          DWORD Class) {
      return Udp(Table, Size, Sort, Family, Class, 0);
    };
  return Functions;
}

namespace {

// A table that the system allocated, copied out and released on every path.
std::vector<uint8_t> AllocatedTable(const TIpHelperFunctions& Functions,
                                    const TIpHelperFunctions::TAllocateTable& Allocate,
                                    size_t RowSize, const std::string& Name) {
  void* Raw = nullptr;
  const DWORD Result = Allocate(&Raw, TRUE, Functions.Heap, 0, FamilyIPv4);
  const auto Free = [&Functions](void* Block) { Functions.FreeBlock(Block); };
  const std::unique_ptr<void, decltype(Free)> Owned(Raw, Free);
  CheckIpHlpResult(Result, Name);
  std::vector<uint8_t> Table(4, 0);
  if (Raw == nullptr) return Table;

  // The rows the table claims, but never more than its block holds.
  const size_t Block = Functions.BlockSize(Raw);
  if (Block < 4) return Table;
  uint32_t Rows;
  std::memcpy(&Rows, Raw, 4);
  const size_t Claimed = 4 + std::min<size_t>(Rows, (Block - 4) / RowSize) * RowSize;
  const auto* Bytes = static_cast<const uint8_t*>(Raw);
  Table.assign(Bytes, Bytes + Claimed);
  return Table;
}

// An owner table costs as much to size as to fill on some systems (under
// Wine each call walks every socket of every process), so it is read into a
// buffer of a likely size first and sized only when it doesn't fit. A table
// that grows before the fill is asked for again with the new size (and room
// for a few more rows), a bounded number of times, before its error stands:
// connections come and go on a busy server. The same holds for the errors a
// loaded system gives for a table that changed during the read
// (STATUS_UNSUCCESSFUL, out of memory). An IPv6 table the system does not
// support is not there (a system without IPv6); an IPv4 one that fails so is
// a failure.
TTableRead SizedTable(const std::function<DWORD(void*, DWORD*)>& Get, bool MayBeAbsent,
                      size_t RowSize, const std::string& Name, std::vector<uint8_t>& Table) {
  DWORD Size = TWin32TableSource::FirstOwnerTableSize;
  int Attempts = 2 + TWin32TableSource::GrowthRetries;  // the first guess, a fill, the retries
  for (;;) {
    Table.assign(Size, 0);
    DWORD Given = Size;
    const DWORD Result = Get(Table.data(), &Given);
    const bool Passing = Result == ERROR_INSUFFICIENT_BUFFER || Result == StatusUnsuccessful ||
                         Result == ERROR_NOT_ENOUGH_MEMORY || Result == ERROR_OUTOFMEMORY;
    if (Passing && --Attempts > 0) {
      const uint64_t Wanted = uint64_t(std::max(Given, Size)) + 16 * RowSize;
      Size = static_cast<DWORD>(std::min<uint64_t>(Wanted, 0xFFFFFFFFu));
      continue;
    }
    if (Result == ERROR_NOT_SUPPORTED && MayBeAbsent) return TTableRead::NotPresent;
    CheckIpHlpResult(Result, Name);
    return TTableRead::Ok;
  }
}

// Why no table with owners can be had from the functions the library gave:
// the library was not loaded, or one of the owner tables' functions is
// missing from it.
[[noreturn]] void NoOwnerTables(const TIpHelperFunctions& Functions) {
  if (Functions.LoadError != 0)
    throw std::runtime_error(std::string("Can not load ") + IpHelperLibrary + ": " +
                             SystemErrorMessage(Functions.LoadError));
  // The functions of every system since XP SP2 are the ones to name.
  const char* Missing =
      Functions.GetExtendedTcpTable ? "GetExtendedUdpTable" : "GetExtendedTcpTable";
  throw std::runtime_error(std::string("Can not find ") + Missing + " in " + IpHelperLibrary +
                           ": " + SystemErrorMessage(ERROR_PROC_NOT_FOUND));
}

}  // namespace

void TWin32TableSource::BindOwnerTables() {
  Functions = Bind();
  // Tables without owners would count nothing: a false OK. A library that
  // could not be loaded gives no function at all.
  if (Functions.LoadError != 0)
    NoOwnerTables(Functions);
  else if (Functions.AllocateTcpExTable && Functions.AllocateUdpExTable)
    CurrentPath = TTablePath::Allocating;
  // Systems since Vista lack the allocating functions; their successors
  // give the same rows.
  else if (Functions.GetExtendedTcpTable && Functions.GetExtendedUdpTable)
    CurrentPath = TTablePath::ExtendedGet;
  else
    NoOwnerTables(Functions);
}

TTableRead TWin32TableSource::ReadTable(TTableKind Kind, std::vector<uint8_t>& Table) {
  const bool Tcp = Kind == TTableKind::Tcp4 || Kind == TTableKind::Tcp6;
  const bool Ipv6 = Kind == TTableKind::Tcp6 || Kind == TTableKind::Udp6;
  const size_t RowSize = TableRowSize(Kind, true);
  const std::string Name = TableName(Kind);

  if (CurrentPath == TTablePath::Allocating && !Ipv6) {
    Table = AllocatedTable(Functions,
                           Tcp ? Functions.AllocateTcpExTable : Functions.AllocateUdpExTable,
                           RowSize, Name);
    return TTableRead::Ok;
  }
  // The allocating functions know no IPv6; the owner tables do, where the
  // system has them.
  const auto& Get = Tcp ? Functions.GetExtendedTcpTable : Functions.GetExtendedUdpTable;
  if (!Get) return TTableRead::NotPresent;
  const ULONG Family = Ipv6 ? FamilyIPv6 : FamilyIPv4;
  const DWORD Class = Tcp ? DWORD(TCP_TABLE_OWNER_PID_ALL) : DWORD(UDP_TABLE_OWNER_PID);
  return SizedTable(
      [&](void* Buffer, DWORD* Size) { return Get(Buffer, Size, TRUE, Family, Class); }, Ipv6,
      RowSize, Name, Table);
}

void TWin32TableSource::ReadSockets(const std::vector<uint32_t>&, TSocketList& Sockets) {
  BindOwnerTables();
  for (TTableKind Kind : {TTableKind::Tcp4, TTableKind::Tcp6, TTableKind::Udp4, TTableKind::Udp6}) {
    std::vector<uint8_t> Table;
    if (ReadTable(Kind, Table) == TTableRead::NotPresent) continue;
    AppendTableSockets(Kind, true, Table.data(), Table.size(), Sockets);
  }
}

TSocketSource& SystemSocketSource() {
  static TWin32TableSource Tables;
  return Tables;
}

// ---- Process list -----------------------------------------------------------

TToolHelpFunctions BindToolHelp() {
  TToolHelpFunctions Functions;
  // Never loaded here: kernel32 is part of every process.
  const HMODULE Module = GetModuleHandleW(L"kernel32.dll");
  if (Module == nullptr) return Functions;
  using TCreate = HANDLE(WINAPI*)(DWORD, DWORD);
  using TProcessWalk = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32W*);
  using TModuleWalk = BOOL(WINAPI*)(HANDLE, MODULEENTRY32W*);
  BindIfFound(Functions.CreateSnapshot, Lookup<TCreate>(Module, "CreateToolhelp32Snapshot"));
  BindIfFound(Functions.Process32First, Lookup<TProcessWalk>(Module, "Process32FirstW"));
  BindIfFound(Functions.Process32Next, Lookup<TProcessWalk>(Module, "Process32NextW"));
  BindIfFound(Functions.Module32First, Lookup<TModuleWalk>(Module, "Module32FirstW"));
  BindIfFound(Functions.Module32Next, Lookup<TModuleWalk>(Module, "Module32NextW"));
  Functions.CloseSnapshot = [](HANDLE Snapshot) { return CloseHandle(Snapshot); };
  return Functions;
}

namespace {

class TSnapshot {
public:
  TSnapshot(const TToolHelpFunctions& Functions, DWORD Flags, DWORD ProcessId)
      : Functions(Functions), Handle(Functions.CreateSnapshot(Flags, ProcessId)) {}
  ~TSnapshot() {
    if (Valid() && Functions.CloseSnapshot) Functions.CloseSnapshot(Handle);
  }
  TSnapshot(const TSnapshot&) = delete;
  TSnapshot& operator=(const TSnapshot&) = delete;

  bool Valid() const { return Handle != INVALID_HANDLE_VALUE && Handle != nullptr; }
  HANDLE Get() const { return Handle; }

private:
  const TToolHelpFunctions& Functions;
  HANDLE Handle;
};

// The lower case of the user's locale, for the comparison alone; kernel32's
// own, since a process that loads user32 needs a desktop, which a service's
// children may not get.
std::wstring Lowered(const std::wstring& Text) {
  if (Text.empty()) return Text;
  const int Units = static_cast<int>(Text.size());
  const int Size = LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_LOWERCASE, Text.data(), Units, nullptr, 0);
  if (Size <= 0) return Text;
  std::wstring Lower(static_cast<size_t>(Size), L'\0');
  LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_LOWERCASE, Text.data(), Units, &Lower[0], Size);
  return Lower;
}

}  // namespace

const TToolHelpFunctions& TWin32ProcessSource::Functions() {
  if (!Bound.CreateSnapshot) Bound = Bind();
  return Bound;
}

bool TWin32ProcessSource::ListProcesses(std::vector<TProcessInfo>& Processes) {
  const TToolHelpFunctions& F = Functions();
  if (!F.CreateSnapshot) return false;
  const TSnapshot Snapshot(F, TH32CS_SNAPPROCESS, 0);
  if (!Snapshot.Valid()) return false;

  std::vector<TProcessInfo> List;
  PROCESSENTRY32W Entry = {};
  Entry.dwSize = sizeof Entry;
  bool More = F.Process32First && F.Process32First(Snapshot.Get(), &Entry);
  while (More) {
    List.push_back({Entry.th32ProcessID, Utf8FromWideArray(Entry.szExeFile)});
    More = F.Process32Next && F.Process32Next(Snapshot.Get(), &Entry);
  }
  Processes = std::move(List);
  return true;
}

bool TWin32ProcessSource::ModuleExePath(uint32_t ProcessId, const std::string& ExeFile,
                                        std::string& Path) {
  const TToolHelpFunctions& F = Functions();
  if (!F.CreateSnapshot || !F.Module32First) return false;
  // A 64-bit build must ask for the modules of a 32-bit process explicitly.
  const DWORD Flags = TH32CS_SNAPMODULE | (sizeof(void*) == 8 ? TH32CS_SNAPMODULE32 : 0);
  const TSnapshot Snapshot(F, Flags, ProcessId);
  if (!Snapshot.Valid()) return false;

  const std::wstring Wanted = Lowered(WideFromUtf8(ExeFile));
  MODULEENTRY32W Entry = {};
  Entry.dwSize = sizeof Entry;
  bool More = F.Module32First(Snapshot.Get(), &Entry);
  while (More) {
    if (Lowered(WideArrayText(Entry.szModule)) == Wanted) {
      Path = Utf8FromWideArray(Entry.szExePath);
      return true;
    }
    More = F.Module32Next && F.Module32Next(Snapshot.Get(), &Entry);
  }
  return false;
}

namespace {

// The full path of the image that process Process runs, in the Win32 form;
// empty when it cannot be had (QueryFullProcessImageNameW is Vista's).
std::wstring ProcessImagePath(HANDLE Process) {
  using TQuery = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);
  static const auto Query = Lookup<TQuery>(GetModuleHandleW(L"kernel32.dll"), "QueryFullProcessImageNameW");
  if (Query == nullptr) return {};
  std::wstring Path(MAX_PATH, L'\0');
  for (;;) {
    DWORD Length = static_cast<DWORD>(Path.size());
    if (Query(Process, 0, &Path[0], &Length)) {
      Path.resize(Length);
      return Path;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || Path.size() >= 32768) return {};
    Path.resize(Path.size() * 2);
  }
}

// What tells one file from another: its volume and its index there.
struct TFileIdentity {
  bool Known = false;
  DWORD Volume = 0, IndexHigh = 0, IndexLow = 0;
};

TFileIdentity FileIdentity(const std::wstring& Path) {
  TFileIdentity Identity;
  // Attributes only, sharing everything: a running image stays untouched.
  const HANDLE File = CreateFileW(Path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (File == INVALID_HANDLE_VALUE) return Identity;
  BY_HANDLE_FILE_INFORMATION Information;
  if (GetFileInformationByHandle(File, &Information)) {
    Identity.Known = true;
    Identity.Volume = Information.dwVolumeSerialNumber;
    Identity.IndexHigh = Information.nFileIndexHigh;
    Identity.IndexLow = Information.nFileIndexLow;
  }
  CloseHandle(File);
  return Identity;
}

// Whether the two images are one file.
bool SameImage(const std::wstring& One, const std::wstring& Other) {
  const TFileIdentity First = FileIdentity(One), Second = FileIdentity(Other);
  if (First.Known && Second.Known)
    return First.Volume == Second.Volume && First.IndexHigh == Second.IndexHigh &&
           First.IndexLow == Second.IndexLow;
  const std::wstring A = FullPathName(One), B = FullPathName(Other);
  return !A.empty() && A.size() == B.size() &&
         CompareStringOrdinal(A.data(), static_cast<int>(A.size()), B.data(),
                              static_cast<int>(B.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

bool TWin32ProcessSource::RunsOwnImage(uint32_t ProcessId) {
  if (ProcessId == 0) return false;
  // The limited right is all the image's name takes, and it is granted for
  // most processes of other users too (not for protected ones).
  const HANDLE Process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ProcessId);
  if (Process == nullptr) return false;
  const std::wstring Image = ProcessImagePath(Process);
  CloseHandle(Process);
  if (Image.empty()) return false;
  const std::wstring Own = ProcessImagePath(GetCurrentProcess());
  return !Own.empty() && SameImage(Image, Own);
}

TProcessSource& SystemProcessSource() {
  static TWin32ProcessSource Processes;
  return Processes;
}
