#include "install/uTRegistryMgr_linux.h"

#include <fcntl.h>

#include <cstdlib>
#include <utility>

#include "common/FileDescriptor_linux.h"
#include "install/BoundedRead_linux.h"
#include "install/Orvane.h"
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

TRegistryQuery TRegistryFileSource::Query(bool LocalMachine, const std::string& Key,
                                          const std::string& Name, TRegistryValue& Value) {
  std::string bytes;
  if (!ReadRegistryFile(Path, bytes)) return TRegistryQuery::KeyMissing;
  return TRegistryFile::ParseForQuery(std::move(bytes), LocalMachine, Key)
      .Query(LocalMachine, Key, Name, Value);
}

std::string RegistryFilePath(const char* Setting) {
  if (Setting != nullptr && *Setting != '\0') return Setting;
  return "/etc/nagios_orvane_check/registry.reg";
}

TRegistrySource& SystemRegistrySource() {
  // The environment is the installation's one way to name another file; it
  // is read when the program first asks.
  static TRegistryFileSource Registry(RegistryFilePath(std::getenv("ORVANE_REGISTRY_FILE")));
  return Registry;
}
