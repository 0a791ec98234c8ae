#include "install/uTRegistryMgr.h"
// placeholder until built
std::string RegistryValueText(TRegistryQuery, const TRegistryValue&, const std::string&) { return {}; }
std::string TRegistryMgr::ReadString(bool, const std::string&, const std::string&) { return {}; }
