#include "census/ProcScan_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "common/BoundedRead.h"
#include "common/Digits.h"
#include "common/FileDescriptor_linux.h"
#include "common/TextCodec.h"

namespace {

// A /proc entry name that is a process id.
bool ProcessIdFromName(const char* Name, uint32_t& ProcessId) {
  return ParseDecimal(std::string_view(Name), ProcessId) && ProcessId != 0;
}

// The kernel keeps 15 bytes of a process's name.
constexpr size_t KernelNameLength = 15;

// The process has ended (or never was): nothing of it is left to read.
bool Gone(int Error) { return Error == ENOENT || Error == ESRCH; }

// The name a process goes by, for messages; "?" when it cannot be read.
std::string CommOf(const std::string& Root, uint32_t ProcessId) {
  std::string comm;
  if (!ReadBoundedFile(ProcPath(Root, std::to_string(ProcessId) + "/comm"), ProcessFileSizeLimit, comm))
    return "?";
  if (!comm.empty() && comm.back() == '\n') comm.pop_back();
  return comm;
}

[[noreturn]] void CannotReadConnections(const std::string& Root, uint32_t ProcessId, int Error) {
  throw std::runtime_error("Can not read the connections of process " +
                           std::to_string(ProcessId) + " (" + CommOf(Root, ProcessId) +
                           "): " + std::strerror(Error));
}

// False for a process in state Z (zombie) or X (dead) by its stat line,
// "pid (name) S ...": the state follows the last ")", since the name may
// hold one.
bool RunningState(const std::string& Stat) {
  const size_t close = Stat.rfind(')');
  if (close == std::string::npos || close + 2 >= Stat.size()) return true;
  const char state = Stat[close + 2];
  return state != 'Z' && state != 'X';
}

// The socket inodes one process holds: its fd directory's links that read
// "socket:[N]". Any failure but the process having ended throws, since
// skipping it would count the process's connections as none.
void ScanProcessFds(const std::string& Root, uint32_t ProcessId, TSocketOwners& Out) {
  const std::string dir = ProcPath(Root, std::to_string(ProcessId) + "/fd");
  TFileDescriptor directory(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.Fd < 0) {
    // Another user's process (EACCES) is as unreadable as one that is short
    // of descriptors (EMFILE); only an ended one has nothing to count.
    if (!Gone(errno)) CannotReadConnections(Root, ProcessId, errno);
    return;
  }
  DIR* entries = fdopendir(directory.Fd);
  if (entries == nullptr) {
    const int error = errno;
    if (!Gone(error)) CannotReadConnections(Root, ProcessId, error);
    return;
  }
  const int dirFd = directory.Fd;
  directory.Fd = -1;  // closedir closes it
  static constexpr char prefix[] = "socket:[";
  constexpr size_t prefixLength = sizeof prefix - 1;
  char link[64];
  int failure = 0;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(entries);
    if (entry == nullptr) {
      if (errno != 0 && !Gone(errno)) failure = errno;
      break;
    }
    if (entry->d_name[0] == '.') continue;
    const ssize_t n = readlinkat(dirFd, entry->d_name, link, sizeof link);
    if (n < 0) {
      // A descriptor closed meanwhile is gone; a link that may not be read
      // (no right to look into the process) is a failure.
      if (!Gone(errno)) {
        failure = errno;
        break;
      }
      continue;
    }
    if (n <= ssize_t(prefixLength) + 1 || size_t(n) >= sizeof link) continue;
    if (std::memcmp(link, prefix, prefixLength) != 0 || link[n - 1] != ']') continue;
    uint64_t inode;
    if (ParseDecimal(std::string_view(link + prefixLength, size_t(n) - prefixLength - 1), inode) &&
        inode != 0)
      Out.Add(inode, ProcessId);
  }
  closedir(entries);
  if (failure != 0) CannotReadConnections(Root, ProcessId, failure);
}

}  // namespace

std::string ProcPath(const std::string& Root, const std::string& Name) {
  return Root.empty() || Root.back() == '/' ? Root + Name : Root + "/" + Name;
}

// ---- Processes ------------------------------------------------------------------------

bool ReadProcessList(const std::string& Root, std::vector<TProcessInfo>& List) {
  DIR* entries = opendir(Root.c_str());
  if (entries == nullptr) return false;
  List.clear();
  std::string comm, stat;
  while (const dirent* entry = readdir(entries)) {
    uint32_t pid;
    if (!ProcessIdFromName(entry->d_name, pid)) continue;
    const std::string commPath = ProcPath(Root, std::string(entry->d_name) + "/comm");
    if (!ReadBoundedFile(commPath, ProcessFileSizeLimit, comm)) {
      // Ended meanwhile, no process directory, or hidden from this user
      // (hidepid=noaccess): not listed. Anything else, such as no
      // descriptor left, would make a running server look absent.
      const int error = errno;
      if (Gone(error) || error == ENOTDIR || error == EACCES || error == EPERM) continue;
      closedir(entries);
      throw std::runtime_error("Can not read the process list: " + commPath + ": " +
                               std::strerror(error));
    }
    if (!comm.empty() && comm.back() == '\n') comm.pop_back();
    // A zombie keeps its name but runs no more: an unreaped child named like
    // the server must not stand in for the server. A stat that cannot be read
    // leaves the process listed, as it was a moment ago.
    if (ReadBoundedFile(ProcPath(Root, std::string(entry->d_name) + "/stat"), ProcessFileSizeLimit,
                        stat) &&
        !RunningState(stat))
      continue;
    List.push_back(TProcessInfo{pid, comm});
  }
  closedir(entries);
  std::stable_sort(List.begin(), List.end(),
                   [](const TProcessInfo& A, const TProcessInfo& B) { return A.ProcessId < B.ProcessId; });
  return true;
}

bool ReadExePath(const std::string& Root, uint32_t ProcessId, const std::string& ExeFile,
                 std::string& Path) {
  if (ExeFile.empty()) return false;
  const std::string link = ProcPath(Root, std::to_string(ProcessId) + "/exe");
  std::vector<char> target(256);
  for (;;) {
    const ssize_t n = readlink(link.c_str(), target.data(), target.size());
    if (n < 0) return false;  // a kernel thread, another user's process, or gone
    if (size_t(n) < target.size()) {
      target.resize(size_t(n));
      break;
    }
    if (target.size() >= 64 * 1024) return false;
    target.resize(target.size() * 2);
  }
  const std::string_view full(target.data(), target.size());
  const size_t slash = full.rfind('/');
  const std::string_view fileName = slash == std::string_view::npos ? full : full.substr(slash + 1);
  const bool matches =
      EqualsIgnoringAsciiCase(fileName, ExeFile) ||
      (ExeFile.size() == KernelNameLength && fileName.size() > KernelNameLength &&
       EqualsIgnoringAsciiCase(fileName.substr(0, KernelNameLength), ExeFile));
  if (!matches) return false;
  Path.assign(full);
  return true;
}

// ---- Mounts ---------------------------------------------------------------------------

namespace {

// A mountinfo path field: blanks and backslashes are written as octal escapes.
std::string UnescapeMountField(std::string_view Field) {
  std::string out;
  for (size_t i = 0; i < Field.size(); ++i) {
    const bool escape = Field[i] == '\\' && i + 3 < Field.size() && Field[i + 1] >= '0' &&
                        Field[i + 1] <= '3' && Field[i + 2] >= '0' && Field[i + 2] <= '7' &&
                        Field[i + 3] >= '0' && Field[i + 3] <= '7';
    if (escape) {
      out += char((Field[i + 1] - '0') * 64 + (Field[i + 2] - '0') * 8 + (Field[i + 3] - '0'));
      i += 3;
    } else {
      out += Field[i];
    }
  }
  return out;
}

}  // namespace

TProcMountOptions ProcMountOptionsAt(std::string_view MountInfo, const std::string& MountPoint) {
  // id parent major:minor root mount-point options [optional...] - type source super-options
  TProcMountOptions found;
  size_t start = 0;
  while (start < MountInfo.size()) {
    size_t end = MountInfo.find('\n', start);
    if (end == std::string_view::npos) end = MountInfo.size();
    const std::string_view line = MountInfo.substr(start, end - start);
    start = end + 1;
    std::vector<std::string_view> fields;
    for (size_t pos = 0; pos < line.size();) {
      const size_t blank = std::min(line.find(' ', pos), line.size());
      if (blank > pos) fields.push_back(line.substr(pos, blank - pos));
      pos = blank + 1;
    }
    if (fields.size() < 5 || UnescapeMountField(fields[4]) != MountPoint) continue;
    size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-") ++dash;
    if (dash + 3 >= fields.size() || fields[dash + 1] != "proc") {
      found = TProcMountOptions();  // something else covers the point now
      continue;
    }
    TProcMountOptions options;
    options.Found = true;
    for (size_t pos = 0; pos <= fields[dash + 3].size();) {
      const std::string_view all = fields[dash + 3];
      const size_t comma = std::min(all.find(',', pos), all.size());
      const std::string_view option = all.substr(pos, comma - pos);
      pos = comma + 1;
      if (option.substr(0, 8) == "hidepid=") options.HidePid = std::string(option.substr(8));
      if (option.substr(0, 4) == "gid=")
        options.HasGid = ParseDecimal(option.substr(4), options.Gid);
    }
    found = options;
  }
  return found;
}

bool HidesOtherUsers(const TProcMountOptions& Options) {
  return Options.Found && !Options.HidePid.empty() && Options.HidePid != "0" &&
         Options.HidePid != "off";
}

void ScanSocketOwners(const std::string& Root, const std::vector<uint32_t>& Owners,
                      TSocketOwners& Out) {
  for (uint32_t pid : Owners) ScanProcessFds(Root, pid, Out);
  Out.Seal();
}
