// The machine's connection tables and process list on Linux: socket dumps
// from the kernel's netlink socket diagnostics (the /proc/net files where
// that is not to be had), owners from /proc/<pid>/fd, names from /proc. The
// readers they use take text, bytes or the root of a /proc tree, so that
// recorded content stands in for the machine's: KernelSockets_linux.h,
// ProcNet_linux.h, SockDiag_linux.h, ProcScan_linux.h.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "census/GetConnections.h"
#include "census/KernelSockets_linux.h"

// Receives one datagram of a netlink dump as recvmsg(2) does; tests stand in
// with recorded ones.
using TDatagramReceiver = std::function<ssize_t(int Fd, msghdr& Message)>;

class TLinuxSocketSource : public TSocketSource {
public:
  // ProcRoot: where /proc is; UseNetlink false reads the /proc/net files only.
  explicit TLinuxSocketSource(std::string ProcRoot = "/proc", bool UseNetlink = true,
                              TDatagramReceiver Receive = {});
  void ReadSockets(const std::vector<uint32_t>& Owners, TSocketList& Sockets) override;

private:
  bool ReadFromNetlink(TTableKind Kind, TKernelSockets& Out);

  std::string ProcRoot;
  bool UseNetlink;
  TDatagramReceiver Receive;
  uint32_t Sequence = 0;
};

class TLinuxProcessSource : public TProcessSource {
public:
  explicit TLinuxProcessSource(std::string ProcRoot = "/proc") : ProcRoot(std::move(ProcRoot)) {}
  // Throws std::runtime_error when the list cannot be read whole.
  bool ListProcesses(std::vector<TProcessInfo>& Processes) override;
  bool ModuleExePath(uint32_t ProcessId, const std::string& ExeFile, std::string& Path) override;
  std::string HiddenProcesses() override;
  uint32_t OwnProcessId() override;
  // By the identity (device and inode) of <ProcRoot>/<pid>/exe and of
  // <ProcRoot>/self/exe: a link of the program under another name counts.
  bool RunsOwnImage(uint32_t ProcessId) override;

private:
  std::string ProcRoot;
};
