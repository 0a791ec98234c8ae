// The netlink socket itself, the choice of source per table, and the
// hidepid check.
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "census/GetConnections_linux.h"
#include "census/ProcNet_linux.h"
#include "census/ProcScan_linux.h"
#include "census/SockDiag_linux.h"
#include "common/BoundedRead.h"
#include "common/FileDescriptor_linux.h"

namespace {

struct TKindInfo {
  uint8_t Family;
  uint8_t Protocol;
  const char* ProcName;  // the file under /proc/net
};

TKindInfo InfoOf(TTableKind Kind) {
  switch (Kind) {
    case TTableKind::Tcp4: return {AF_INET, IPPROTO_TCP, "tcp"};
    case TTableKind::Tcp6: return {AF_INET6, IPPROTO_TCP, "tcp6"};
    case TTableKind::Udp6: return {AF_INET6, IPPROTO_UDP, "udp6"};
    case TTableKind::Udp4: break;
  }
  return {AF_INET, IPPROTO_UDP, "udp"};
}

// A dump's replies come in pieces of up to 32 KiB; a larger buffer lets the
// kernel fill each piece.
constexpr size_t ReceiveBufferSize = 64 * 1024;
// A kernel that stops answering must not hold the check forever.
constexpr time_t ReceiveTimeoutSeconds = 5;

}  // namespace

TLinuxSocketSource::TLinuxSocketSource(std::string ProcRoot, bool UseNetlink,
                                       TDatagramReceiver Receive)
    : ProcRoot(std::move(ProcRoot)), UseNetlink(UseNetlink), Receive(std::move(Receive)) {
  if (!this->Receive)
    this->Receive = [](int Fd, msghdr& Message) { return recvmsg(Fd, &Message, 0); };
}

bool TLinuxSocketSource::ReadFromNetlink(TTableKind Kind, TKernelSockets& Out) {
  const TKindInfo info = InfoOf(Kind);
  TFileDescriptor fd(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  if (fd.Fd < 0) return false;
  timeval timeout{ReceiveTimeoutSeconds, 0};
  setsockopt(fd.Fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

  const uint32_t sequence = ++Sequence;
  const std::vector<uint8_t> request = BuildDiagRequest(info.Family, info.Protocol, sequence);
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  ssize_t sent;
  do {
    sent = sendto(fd.Fd, request.data(), request.size(), 0,
                  reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel);
  } while (sent < 0 && errno == EINTR);
  if (sent != ssize_t(request.size())) return false;

  std::vector<uint8_t> buffer(ReceiveBufferSize);
  for (;;) {
    sockaddr_nl from{};
    iovec part{buffer.data(), buffer.size()};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    const ssize_t n = Receive(fd.Fd, message);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || (message.msg_flags & MSG_TRUNC)) return false;
    if (from.nl_pid != 0) continue;  // only the kernel answers a dump
    const TDiagResult result = ParseDiagMessages(buffer.data(), size_t(n), sequence, info.Family,
                                                 info.Protocol == IPPROTO_TCP, Out);
    if (result.Status == TDiagResult::Done) return true;
    if (result.Status == TDiagResult::Failed) {
      errno = result.Error;
      return false;
    }
  }
}

void TLinuxSocketSource::ReadSockets(const std::vector<uint32_t>& Owners, TSocketList& Sockets) {
  TSocketOwners owners;
  bool scanned = false;
  for (TTableKind kind : {TTableKind::Tcp4, TTableKind::Tcp6, TTableKind::Udp4, TTableKind::Udp6}) {
    const TKindInfo info = InfoOf(kind);
    const bool ipv6 = info.Family == AF_INET6;
    TKernelSockets found;
    if (!UseNetlink || !ReadFromNetlink(kind, found)) {
      found.clear();  // what a dump cut short gave is read again from the file
      if (!ReadProcNetTable(ProcRoot, info.ProcName, ipv6, found)) {
        const int error = errno;
        // A kernel without IPv6 has neither the dump nor the file.
        if (ipv6 && error == ENOENT) continue;
        throw std::runtime_error("Can not read " + ProcRoot + "/net/" + info.ProcName + ": " +
                                 std::strerror(error));
      }
    }
    // Sockets are listed before their holders are looked for, so every socket
    // of the first table that lives on is found; later tables of the snapshot
    // share that look.
    if (!scanned && !found.empty()) {
      ScanSocketOwners(ProcRoot, Owners, owners);
      scanned = true;
    }
    AppendKernelSockets(info.Protocol == IPPROTO_TCP, ipv6, found, owners, Sockets);
  }
}

bool TLinuxProcessSource::ListProcesses(std::vector<TProcessInfo>& Processes) {
  // A list that cannot be read would make every server look stopped.
  if (!ReadProcessList(ProcRoot, Processes))
    throw std::runtime_error("Can not read the process list: " + ProcRoot + ": " +
                             std::strerror(errno));
  return true;
}

namespace {

// The whole file; empty when it cannot be read.
std::string WholeFile(const std::string& Path) {
  std::string text;
  if (!ReadBoundedFile(Path, ProcStatusFileSizeLimit, text)) text.clear();
  return text;
}

// Whether this process has CAP_SYS_PTRACE in effect, by its status file
// ("CapEff:\t<hex mask>"): with it, hidepid hides nothing from it.
bool MayTraceAnyProcess(const std::string& ProcRoot) {
  std::istringstream status(WholeFile(ProcRoot + "/self/status"));
  constexpr int CapSysPtrace = 19;
  for (std::string line; std::getline(status, line);) {
    if (line.compare(0, 7, "CapEff:") != 0) continue;
    const unsigned long long mask = std::strtoull(line.c_str() + 7, nullptr, 16);
    return (mask >> CapSysPtrace) & 1;
  }
  return false;
}

bool InGroup(uint32_t Gid) {
  if (getegid() == Gid) return true;
  const int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  const int got = getgroups(count, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, Gid) != groups.begin() + got;
}

}  // namespace

std::string TLinuxProcessSource::HiddenProcesses() {
  const TProcMountOptions options =
      ProcMountOptionsAt(WholeFile(ProcRoot + "/self/mountinfo"), ProcRoot);
  if (!HidesOtherUsers(options)) return {};
  // The kernel shows every process to those who may trace any, and to
  // members of the mount's gid= group unless only traceable ones are shown.
  const bool groupSees = options.HasGid && options.HidePid != "4" &&
                         options.HidePid != "ptraceable" && InGroup(options.Gid);
  if (MayTraceAnyProcess(ProcRoot) || groupSees) return {};
  return ProcRoot + " is mounted with hidepid=" + options.HidePid +
         " and hides other users' processes from this user";
}

bool TLinuxProcessSource::ModuleExePath(uint32_t ProcessId, const std::string& ExeFile,
                                        std::string& Path) {
  return ReadExePath(ProcRoot, ProcessId, ExeFile, Path);
}

TSocketSource& SystemSocketSource() {
  static TLinuxSocketSource source;
  return source;
}

uint32_t TLinuxProcessSource::OwnProcessId() { return static_cast<uint32_t>(getpid()); }

bool TLinuxProcessSource::RunsOwnImage(uint32_t ProcessId) {
  if (ProcessId == 0) return false;
  // stat() follows the link to the file the process runs, even when that
  // file was replaced or removed since. Another user's process may not be
  // looked into without rights: then it cannot be told.
  struct stat other {}, own {};
  if (stat((ProcRoot + "/" + std::to_string(ProcessId) + "/exe").c_str(), &other) != 0 ||
      stat((ProcRoot + "/self/exe").c_str(), &own) != 0)
    return false;
  return other.st_dev == own.st_dev && other.st_ino == own.st_ino;
}

TProcessSource& SystemProcessSource() {
  static TLinuxProcessSource source;
  return source;
}
