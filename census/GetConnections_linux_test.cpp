// The machine's own tables: sockets this test opens must show up in a
// snapshot with this process as their owner.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "census/GetConnections.h"
#include "census/GetConnections_linux.h"
#include "common/FileDescriptor_linux.h"

namespace {

int LocalPortOf(int Fd) {
  sockaddr_in a{};
  socklen_t length = sizeof a;
  getsockname(Fd, reinterpret_cast<sockaddr*>(&a), &length);
  return ntohs(a.sin_port);
}

// The full path of this test program, which is what its sockets' owner is
// named.
std::string SelfExe() {
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe);
  return n > 0 && size_t(n) < sizeof exe ? std::string(exe, size_t(n)) : std::string();
}

sockaddr_in Loopback(int Port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(Port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// A listener, a connection to it and the accepted end, plus a UDP socket.
class LiveSocketsTest : public ::testing::Test {
protected:
  TFileDescriptor Listener{socket(AF_INET, SOCK_STREAM, 0)};
  TFileDescriptor Client{socket(AF_INET, SOCK_STREAM, 0)};
  TFileDescriptor Accepted{-1};
  TFileDescriptor Udp{socket(AF_INET, SOCK_DGRAM, 0)};
  int ListenPort = 0, ClientPort = 0, UdpPort = 0;
  const uint32_t Self = uint32_t(getpid());

  void SetUp() override {
    sockaddr_in any = Loopback(0);
    ASSERT_EQ(bind(Listener.Fd, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    ASSERT_EQ(listen(Listener.Fd, 4), 0);
    ListenPort = LocalPortOf(Listener.Fd);
    sockaddr_in to = Loopback(ListenPort);
    ASSERT_EQ(connect(Client.Fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    Accepted.Fd = accept(Listener.Fd, nullptr, nullptr);
    ASSERT_GE(Accepted.Fd, 0);
    ClientPort = LocalPortOf(Client.Fd);
    ASSERT_EQ(bind(Udp.Fd, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    UdpPort = LocalPortOf(Udp.Fd);
  }

  const TListEntry* Find(const TConnectionList& List, int Protocol, int LocalPort, int RemotePort) {
    for (const auto& e : List)
      if (e.Protocol == Protocol && e.LocalAddress == "127.0.0.1" && e.LocalPort == LocalPort &&
          e.RemotePort == RemotePort)
        return &e;
    return nullptr;
  }

  void ExpectOurs(TSocketSource& Sockets) {
    TConnectionList list;
    SnapshotConnections(list, Sockets, SystemProcessSource(), {Self});
    const TListEntry* listening = Find(list, 0, ListenPort, 0);
    const TListEntry* server = Find(list, 0, ListenPort, ClientPort);
    const TListEntry* client = Find(list, 0, ClientPort, ListenPort);
    const TListEntry* udp = Find(list, 1, UdpPort, 0);
    ASSERT_TRUE(listening && server && client && udp);
    EXPECT_EQ(listening->State, TcpStateListening);
    EXPECT_EQ(listening->RemoteAddress, "0.0.0.0");
    EXPECT_EQ(server->State, TcpStateEstablished);
    EXPECT_EQ(client->State, TcpStateEstablished);
    EXPECT_EQ(server->RemoteAddress, "127.0.0.1");
    EXPECT_EQ(udp->State, 0);
    for (const TListEntry* e : {listening, server, client, udp}) {
      EXPECT_EQ(e->ProcessId, Self) << e->LocalPort;
      EXPECT_EQ(e->ProcessName, SelfExe());
    }
    // TCP before UDP.
    EXPECT_LT(client, udp);
    EXPECT_LT(listening, udp);
  }
};

TEST_F(LiveSocketsTest, SystemSourceFindsOurSockets) { ExpectOurs(SystemSocketSource()); }

TEST_F(LiveSocketsTest, ProcNetFilesFindOurSockets) {
  TLinuxSocketSource sockets("/proc", false);
  ExpectOurs(sockets);
}

TEST_F(LiveSocketsTest, OwnersNarrowTheScan) {
  // Looking only for another process leaves our sockets without owner. The
  // other process is a child that holds none of them (process 1 may be one
  // that even root is not let to look into).
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(ready[0]);
    for (int fd = 3; fd < 1024; ++fd)
      if (fd != ready[1]) close(fd);
    close(ready[1]);  // tells the parent that nothing of ours is held
    pause();
    _exit(0);
  }
  ASSERT_GT(child, 0);
  close(ready[1]);
  char ignored;
  ASSERT_EQ(read(ready[0], &ignored, 1), 0);
  close(ready[0]);
  const std::vector<uint32_t> other{uint32_t(child)};
  TConnectionList list;
  SnapshotConnections(list, SystemSocketSource(), SystemProcessSource(), other);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  const TListEntry* server = Find(list, 0, ListenPort, ClientPort);
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(server->ProcessId, 0u);
  EXPECT_EQ(server->ProcessName, "");
}

// The same over IPv6 loopback, where the machine has it.
TEST(LiveIpv6Test, SystemSourceFindsOurSockets) {
  TFileDescriptor listener{socket(AF_INET6, SOCK_STREAM, 0)};
  TFileDescriptor client{socket(AF_INET6, SOCK_STREAM, 0)};
  sockaddr_in6 any{};
  any.sin6_family = AF_INET6;
  any.sin6_addr = in6addr_loopback;
  if (listener.Fd < 0 || bind(listener.Fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0)
    GTEST_SKIP() << "no IPv6 loopback here";
  ASSERT_EQ(listen(listener.Fd, 4), 0);
  sockaddr_in6 bound{};
  socklen_t length = sizeof bound;
  getsockname(listener.Fd, reinterpret_cast<sockaddr*>(&bound), &length);
  ASSERT_EQ(connect(client.Fd, reinterpret_cast<sockaddr*>(&bound), sizeof bound), 0);
  TFileDescriptor accepted{accept(listener.Fd, nullptr, nullptr)};
  ASSERT_GE(accepted.Fd, 0);
  const int port = ntohs(bound.sin6_port);

  TConnectionList list;
  SnapshotConnections(list, SystemSocketSource(), SystemProcessSource(), {uint32_t(getpid())});
  int listening = 0, established = 0;
  for (const auto& e : list) {
    if (e.Protocol != 0 || e.LocalAddress != "::1" || e.ProcessId != uint32_t(getpid())) continue;
    if (e.LocalPort == port && e.State == TcpStateListening && e.RemoteAddress == "::") ++listening;
    if (e.State == TcpStateEstablished && e.RemoteAddress == "::1" &&
        (e.LocalPort == port || e.RemotePort == port))
      ++established;
  }
  EXPECT_EQ(listening, 1);
  EXPECT_EQ(established, 2);
}

TEST(LiveProcessesTest, OwnProcessListed) {
  const std::string exe = SelfExe();
  ASSERT_FALSE(exe.empty());
  std::vector<TProcessInfo> list;
  ASSERT_TRUE(SystemProcessSource().ListProcesses(list));
  const uint32_t self = uint32_t(getpid());
  bool found = false;
  for (const auto& p : list)
    if (p.ProcessId == self) {
      found = true;
      EXPECT_EQ(p.ExeFile, exe.substr(exe.rfind('/') + 1).substr(0, 15));  // the kernel keeps 15
    }
  EXPECT_TRUE(found);
  EXPECT_EQ(ProcessNameFromId(self, SystemProcessSource()), exe);
}

// A child that runs Program and is held still right after its exec (traced),
// so that its executable is Program's and it runs none of it; killed with
// the object. Pid() is 0 where tracing is not allowed.
class TStoppedChild {
public:
  explicit TStoppedChild(const std::string& Program) {
    const pid_t child = fork();
    if (child == 0) {
      if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(126);
      execl(Program.c_str(), Program.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    if (child < 0) return;
    Child = child;
    int status = 0;
    if (waitpid(Child, &status, 0) == Child && WIFSTOPPED(status)) Stopped = true;
    else Child = 0;  // it ended: no tracing here, or no program
  }
  ~TStoppedChild() {
    if (!Stopped) return;
    kill(Child, SIGKILL);
    waitpid(Child, nullptr, 0);
  }
  uint32_t Pid() const { return uint32_t(Child); }

private:
  pid_t Child = 0;
  bool Stopped = false;
};

// Another instance of this program is known by its file whatever its name:
// started through a hard link or a symbolic link named like the server.
// Another program is not, nor a process that is gone.
TEST(LiveProcessesTest, AnotherInstanceOfThisProgramIsKnownByItsFile) {
  const std::string exe = SelfExe();
  ASSERT_FALSE(exe.empty());
  // The hard link beside this program, on its file system.
  const std::string hard = exe.substr(0, exe.rfind('/') + 1) + "Orvane-" + std::to_string(getpid()) + ".exe";
  const std::string soft = "/tmp/Orvane-" + std::to_string(getpid()) + ".exe";
  ASSERT_EQ(link(exe.c_str(), hard.c_str()), 0) << hard;
  ASSERT_EQ(symlink(exe.c_str(), soft.c_str()), 0) << soft;
  TProcessSource& processes = SystemProcessSource();
  {
    TStoppedChild hardChild(hard), softChild(soft), other("/bin/true");
    if (hardChild.Pid() == 0) {
      unlink(hard.c_str());
      unlink(soft.c_str());
      GTEST_SKIP() << "no tracing of a child here";
    }
    EXPECT_TRUE(processes.RunsOwnImage(hardChild.Pid()));
    EXPECT_TRUE(processes.RunsOwnImage(softChild.Pid()));
    EXPECT_FALSE(processes.RunsOwnImage(other.Pid()));
    EXPECT_TRUE(processes.RunsOwnImage(uint32_t(getpid())));
  }
  unlink(hard.c_str());
  unlink(soft.c_str());
  // A process that has ended and been reaped, and no process at all.
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_GT(gone, 0);
  waitpid(gone, nullptr, 0);
  EXPECT_FALSE(processes.RunsOwnImage(uint32_t(gone)));
  EXPECT_FALSE(processes.RunsOwnImage(0));
  // A recorded /proc has no image of this program's.
  TLinuxProcessSource recorded("/nonexistent/proc");
  EXPECT_FALSE(recorded.RunsOwnImage(uint32_t(getpid())));
}

}  // namespace
