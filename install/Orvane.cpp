#include "install/Orvane.h"
// placeholder until built
TOrvane::TOrvane(TConfigFileSystem& Files) : Files(Files) {}
bool TOrvane::LoadConfigFile(const std::string&, std::vector<std::string>&) { return true; }
int64_t TOrvane::KeyValueInteger(const std::string&, const std::string&) { return 0; }
bool TOrvane::Contains(const std::string&, const std::string&) { return false; }
