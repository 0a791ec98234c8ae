// The registry on Linux: a registry export file stands in for it, read afresh
// for every query (the program asks once per run).
#include "install/uTRegistryMgr.h"

#include <utility>

#include "common/BoundedRead_linux.h"
#include "common/ConfigText.h"
#include "install/RegistryFile.h"

TRegistryQuery QueryRegistryValue(bool LocalMachine, const std::string& Key,
                                  const std::string& Name, TRegistryValue& Value) {
  // A registry that cannot be read is a key that cannot be opened.
  std::string bytes;
  if (!ReadBoundedFile(RegistryFilePath(), ConfigFileSizeLimit, bytes))
    return TRegistryQuery::KeyMissing;
  return TRegistryFile::ParseForQuery(std::move(bytes), LocalMachine, Key)
      .Query(LocalMachine, Key, Name, Value);
}
