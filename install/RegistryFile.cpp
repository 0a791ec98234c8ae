#include "install/RegistryFile.h"
// placeholder until built
TRegistryFile TRegistryFile::Parse(const std::string&) { return {}; }
TRegistryQuery TRegistryFile::Find(const std::string&, const std::string&, TRegistryValue&) const { return TRegistryQuery::KeyMissing; }
std::string RegistryFilePath() { return {}; }
