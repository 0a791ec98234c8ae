#include "install/uTRegistryMgr_linux.h"

#include <cstdlib>
#include <utility>

#include "common/BoundedRead.h"
#include "install/RegistryFile.h"

TRegistryQuery TRegistryFileSource::Query(bool LocalMachine, const std::string& Key,
                                          const std::string& Name, TRegistryValue& Value) {
  // A registry that cannot be read is a key that cannot be opened.
  std::string bytes;
  if (!ReadBoundedFile(Path, ConfigFileSizeLimit, bytes)) return TRegistryQuery::KeyMissing;
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
