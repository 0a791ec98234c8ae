// The registry on Linux: a registry export file stands in for it, read afresh
// for every query (the program asks once per run).
#include "install/uTRegistryMgr.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "install/RegistryFile.h"

namespace {

// The whole file, or false when it is missing, unreadable or not a regular
// file. O_NONBLOCK keeps a FIFO or a device from holding up the open.
bool ReadRegistryFile(const std::string& path, std::string& bytes) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct stat info;
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  char buffer[65536];
  while (ok) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno != EINTR) ok = false;
      continue;
    }
    bytes.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  return ok;
}

}  // namespace

TRegistryQuery QueryRegistryValue(bool LocalMachine, const std::string& Key,
                                  const std::string& Name, TRegistryValue& Value) {
  // A registry that cannot be read is a key that cannot be opened.
  std::string bytes;
  if (!ReadRegistryFile(RegistryFilePath(), bytes)) return TRegistryQuery::KeyMissing;
  return TRegistryFile::Parse(bytes).Query(LocalMachine, Key, Name, Value);
}
