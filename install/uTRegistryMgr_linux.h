// The registry on Linux: a registry export file stands in for it.
#pragma once

#include <string>
#include <utility>

#include "install/uTRegistryMgr.h"

// The registry held in the export file at Path, read afresh for every query
// (the program asks once per run). A file that cannot be read is a key that
// cannot be opened.
class TRegistryFileSource : public TRegistrySource {
public:
  explicit TRegistryFileSource(std::string Path) : Path(std::move(Path)) {}
  TRegistryQuery Query(bool LocalMachine, const std::string& Key, const std::string& Name,
                       TRegistryValue& Value) override;

private:
  std::string Path;
};

// Where the system's registry file is: Setting (the environment's
// ORVANE_REGISTRY_FILE) when given and not empty, else
// /etc/nagios_orvane_check/registry.reg.
std::string RegistryFilePath(const char* Setting);
