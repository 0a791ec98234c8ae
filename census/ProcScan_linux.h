// Processes under a /proc root: their names and executables, the sockets
// they hold, and how the mount hides them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "census/GetConnections.h"
#include "census/KernelSockets_linux.h"

// Name under Root ("/proc", "/proc/"): "/proc/net/tcp" for "net/tcp".
std::string ProcPath(const std::string& Root, const std::string& Name);

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

// Adds the socket inodes held open by the processes Owners (ids under Root)
// to Out, and seals it. Processes and descriptors that vanish are skipped; a
// process whose descriptors cannot be read for any other reason (another
// user's, no descriptor left) throws std::runtime_error "Can not read the
// connections of process <pid> (<name>): <reason>", since its connections
// would otherwise count as none.
void ScanSocketOwners(const std::string& Root, const std::vector<uint32_t>& Owners,
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
