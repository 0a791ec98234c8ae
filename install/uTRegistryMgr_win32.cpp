#include "install/uTRegistryMgr.h"
// placeholder until built
TRegistryQuery QueryRegistryValue(bool, const std::string&, const std::string&, TRegistryValue&) { return TRegistryQuery::KeyMissing; }
