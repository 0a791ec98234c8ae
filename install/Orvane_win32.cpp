#include "install/Orvane.h"
// placeholder until built
namespace { struct F : TConfigFileSystem { bool ReadWholeFile(const std::string&, std::string&) override { return false; } void Sleep(int32_t) override {} }; }
TConfigFileSystem& SystemConfigFileSystem() { static F f; return f; }
std::string AnsiToUtf8(const std::string& bytes) { return bytes; }
