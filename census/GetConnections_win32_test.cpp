// The running Windows system's tables and processes: sockets this test opens
// must show up in a snapshot with this process as their owner.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>

#include "census/GetConnections_win32.h"

#include <string>
#include <vector>

#include "check/OrvaneCheck.h"
#include "common/WideText_win32.h"
#include "testing/FakeFileSystem.h"
#include "testing/FakeRegistry.h"

namespace {

// Winsock for one test, and the sockets it opened, closed at its end.
class TWinsock {
public:
  TWinsock() { Ready = WSAStartup(MAKEWORD(2, 2), &Data) == 0; }
  ~TWinsock() {
    for (SOCKET Each : Sockets) closesocket(Each);
    if (Ready) WSACleanup();
  }
  SOCKET Keep(SOCKET Socket) {
    if (Socket != INVALID_SOCKET) Sockets.push_back(Socket);
    return Socket;
  }
  bool Ready;

private:
  WSADATA Data;
  std::vector<SOCKET> Sockets;
};

sockaddr_in Loopback(uint16_t Port) {
  sockaddr_in Address = {};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Address.sin_port = htons(Port);
  return Address;
}

int BoundPort(SOCKET Socket) {
  sockaddr_in Address = {};
  int Length = sizeof Address;
  if (getsockname(Socket, reinterpret_cast<sockaddr*>(&Address), &Length) != 0) return -1;
  return ntohs(Address.sin_port);
}

const TListEntry* FindEntry(const TConnectionList& List, int Protocol, int LocalPort,
                            int State = -1, const std::string& LocalAddress = "127.0.0.1") {
  for (const TListEntry& Entry : List)
    if (Entry.Protocol == Protocol && Entry.LocalAddress == LocalAddress &&
        Entry.LocalPort == LocalPort && (State < 0 || Entry.State == State))
      return &Entry;
  return nullptr;
}

std::string OwnExePath() {
  std::wstring Path(32768, L'\0');
  const DWORD Length = GetModuleFileNameW(nullptr, &Path[0], static_cast<DWORD>(Path.size()));
  Path.resize(Length);
  return Utf8FromWide(Path);
}

TEST(SystemCensusWin32, FindsTheSocketsOfThisProcess) {
  TWinsock Winsock;
  ASSERT_TRUE(Winsock.Ready);
  const SOCKET Listener = Winsock.Keep(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in Address = Loopback(0);
  ASSERT_EQ(bind(Listener, reinterpret_cast<sockaddr*>(&Address), sizeof Address), 0);
  ASSERT_EQ(listen(Listener, 4), 0);
  const int ListenPort = BoundPort(Listener);
  const SOCKET Client = Winsock.Keep(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  Address = Loopback(static_cast<uint16_t>(ListenPort));
  ASSERT_EQ(connect(Client, reinterpret_cast<sockaddr*>(&Address), sizeof Address), 0);
  const SOCKET Server = Winsock.Keep(accept(Listener, nullptr, nullptr));
  ASSERT_NE(Server, INVALID_SOCKET);
  const int ClientPort = BoundPort(Client);
  const SOCKET Datagram = Winsock.Keep(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  Address = Loopback(0);
  ASSERT_EQ(bind(Datagram, reinterpret_cast<sockaddr*>(&Address), sizeof Address), 0);
  const int DatagramPort = BoundPort(Datagram);

  TWin32TableSource Tables;
  TConnectionList List;
  SnapshotConnections(List, Tables, SystemProcessSource(), {uint32_t(GetCurrentProcessId())});
  // Owners are known on every system since Vista (and under Wine): without
  // them the snapshot would have failed.

  const TListEntry* Listening = FindEntry(List, 0, ListenPort, TcpStateListening);
  ASSERT_NE(Listening, nullptr);
  EXPECT_EQ(Listening->RemoteAddress, "0.0.0.0");
  EXPECT_EQ(Listening->RemotePort, 0);
  const TListEntry* Inbound = FindEntry(List, 0, ListenPort, TcpStateEstablished);
  ASSERT_NE(Inbound, nullptr);
  EXPECT_EQ(Inbound->RemoteAddress, "127.0.0.1");
  EXPECT_EQ(Inbound->RemotePort, ClientPort);
  const TListEntry* Outbound = FindEntry(List, 0, ClientPort, TcpStateEstablished);
  ASSERT_NE(Outbound, nullptr);
  EXPECT_EQ(Outbound->RemotePort, ListenPort);
  const TListEntry* Udp = FindEntry(List, 1, DatagramPort);
  ASSERT_NE(Udp, nullptr);
  EXPECT_EQ(Udp->RemoteAddress, "");
  EXPECT_EQ(Udp->State, 0);

  // TCP before UDP.
  EXPECT_LT(Listening, Udp);
  // Wine keeps sockets in its own server and reports owner 0; Windows names
  // this process.
  for (const TListEntry* Entry : {Listening, Inbound, Outbound, Udp}) {
    if (Entry->ProcessId == 0) continue;
    EXPECT_EQ(Entry->ProcessId, GetCurrentProcessId());
    EXPECT_EQ(Entry->ProcessName, OwnExePath());
  }
}

TEST(SystemCensusWin32, FindsAnIpv6ListeningSocket) {
  TWinsock Winsock;
  ASSERT_TRUE(Winsock.Ready);
  const SOCKET Listener = Winsock.Keep(socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in6 Address = {};
  Address.sin6_family = AF_INET6;
  Address.sin6_addr = in6addr_loopback;
  if (Listener == INVALID_SOCKET ||
      bind(Listener, reinterpret_cast<sockaddr*>(&Address), sizeof Address) != 0)
    GTEST_SKIP() << "no IPv6 loopback here";
  ASSERT_EQ(listen(Listener, 4), 0);
  int Length = sizeof Address;
  ASSERT_EQ(getsockname(Listener, reinterpret_cast<sockaddr*>(&Address), &Length), 0);

  TConnectionList List;
  SnapshotConnections(List, SystemSocketSource(), SystemProcessSource(), {});
  const TListEntry* Listening =
      FindEntry(List, 0, ntohs(Address.sin6_port), TcpStateListening, "::1");
  ASSERT_NE(Listening, nullptr);
  EXPECT_EQ(Listening->RemoteAddress, "::");
  EXPECT_EQ(Listening->RemotePort, 0);
}

TEST(SystemCensusWin32, NamesThisProcessWithItsFullPath) {
  EXPECT_EQ(ProcessNameFromId(GetCurrentProcessId(), SystemProcessSource()), OwnExePath());
  // Process ids are multiples of four: 3 is nobody.
  EXPECT_EQ(ProcessNameFromId(3, SystemProcessSource()), "?");
}

// The check never takes itself for the server, whatever its name.
TEST(SystemCensusWin32, NeverFindsThisProcess) {
  std::string Name = OwnExePath();
  Name = Name.substr(Name.rfind('\\') + 1);
  // The system's processes, and no file or registry of the machine's.
  TFakeFileSystem Files;
  TFakeRegistry Registry;
  TOrvaneCheck Check({&Files, &Registry, &SystemSocketSource(), &SystemProcessSource()});
  EXPECT_TRUE(Check.FindServerProcesses(Name).Ids.empty());
  EXPECT_TRUE(Check.FindServerProcesses("no-such-program-anywhere.exe").Ids.empty());
}

// A process of Program started and held before it runs any of its code;
// ended with the object.
class TSuspendedChild {
public:
  explicit TSuspendedChild(const std::string& Program) {
    std::wstring Line = L"\"" + WideFromUtf8(Program) + L"\"";
    STARTUPINFOW Startup = {};
    Startup.cb = sizeof Startup;
    if (CreateProcessW(WideFromUtf8(Program).c_str(), &Line[0], nullptr, nullptr, FALSE,
                       CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &Startup, &Process)) {
      CloseHandle(Process.hThread);
      Started = true;
    }
  }
  ~TSuspendedChild() {
    if (!Started) return;
    TerminateProcess(Process.hProcess, 99);
    WaitForSingleObject(Process.hProcess, INFINITE);
    CloseHandle(Process.hProcess);
  }
  uint32_t Pid() const { return Started ? Process.dwProcessId : 0; }

private:
  PROCESS_INFORMATION Process = {};
  bool Started = false;
};

// A hard link of this program under the server's name, in a folder of its
// own beside it. No link of a running image can be removed (the system keeps
// its file): the link stays for the next run, which puts a link to its own
// build in its place.
struct TOwnImageLink {
  std::string Path;
  bool Made = false;
  TOwnImageLink() {
    const std::string Own = OwnExePath();
    const std::string Folder = Own.substr(0, Own.rfind('\\') + 1) + "own-image";
    Path = Folder + "\\Orvane.exe";
    CreateDirectoryW(WideFromUtf8(Folder).c_str(), nullptr);
    // A link of this very build cannot be removed while this test runs it.
    if (DeleteFileW(WideFromUtf8(Path).c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND)
      Made = CreateHardLinkW(WideFromUtf8(Path).c_str(), WideFromUtf8(Own).c_str(), nullptr);
    else
      Made = LinkCount(Own) > 1 && LinkCount(Path) > 1 && Size(Own) == Size(Path);
  }
  static DWORD LinkCount(const std::string& File) {
    BY_HANDLE_FILE_INFORMATION Information = {};
    const HANDLE Handle = CreateFileW(WideFromUtf8(File).c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (Handle == INVALID_HANDLE_VALUE) return 0;
    GetFileInformationByHandle(Handle, &Information);
    CloseHandle(Handle);
    return Information.nNumberOfLinks;
  }
  static uint64_t Size(const std::string& File) {
    WIN32_FILE_ATTRIBUTE_DATA Data = {};
    GetFileAttributesExW(WideFromUtf8(File).c_str(), GetFileExInfoStandard, &Data);
    return (uint64_t(Data.nFileSizeHigh) << 32) | Data.nFileSizeLow;
  }
};

// Another instance of this program is known by its file whatever its name:
// started through a hard link named like the server, in another folder.
// Another program is not.
TEST(SystemCensusWin32, AnotherInstanceOfThisProgramIsKnownByItsFile) {
  const TOwnImageLink Link;
  ASSERT_TRUE(Link.Made) << GetLastError();
  const std::string Own = OwnExePath();
  TProcessSource& Processes = SystemProcessSource();
  {
    const TSuspendedChild Namesake(Link.Path);
    const TSuspendedChild Other(Own.substr(0, Own.rfind('\\') + 1) + "nagios_orvane_check.exe");
    ASSERT_NE(Namesake.Pid(), 0u);
    ASSERT_NE(Other.Pid(), 0u);
    EXPECT_TRUE(Processes.RunsOwnImage(Namesake.Pid()));
    EXPECT_FALSE(Processes.RunsOwnImage(Other.Pid()));
  }
  EXPECT_TRUE(Processes.RunsOwnImage(GetCurrentProcessId()));
  // Process ids are multiples of four: 3 is nobody.
  EXPECT_FALSE(Processes.RunsOwnImage(3));
  EXPECT_FALSE(Processes.RunsOwnImage(0));
}

}  // namespace
