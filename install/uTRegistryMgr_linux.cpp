// The registry on Linux: a registry export file stands in for it, read afresh
// for every query (the program asks once per run).
#include "install/uTRegistryMgr.h"

#include <fcntl.h>

#include <utility>

#include "common/ConfigText.h"
#include "common/FileDescriptor_linux.h"
#include "install/BoundedRead_linux.h"
#include "install/RegistryFile.h"

namespace {

// The whole file, or false when it is missing, unreadable, not a regular file
// or larger than a configuration file may be. O_NONBLOCK keeps a FIFO or a
// device from holding up the open.
bool ReadRegistryFile(const std::string& path, std::string& bytes) {
  TFileDescriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  return file.Fd >= 0 && ReadRegularFile(file.Fd, ConfigFileSizeLimit, bytes);
}

}  // namespace

TRegistryQuery QueryRegistryValue(bool LocalMachine, const std::string& Key,
                                  const std::string& Name, TRegistryValue& Value) {
  // A registry that cannot be read is a key that cannot be opened.
  std::string bytes;
  if (!ReadRegistryFile(RegistryFilePath(), bytes)) return TRegistryQuery::KeyMissing;
  return TRegistryFile::ParseForQuery(std::move(bytes), LocalMachine, Key)
      .Query(LocalMachine, Key, Name, Value);
}
