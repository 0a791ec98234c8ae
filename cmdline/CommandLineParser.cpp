#include "cmdline/CommandLineParser.h"
// placeholder until built
int64_t LeadingInteger(const std::string&) { return 0; }
std::vector<std::string> SplitCommandLine(const std::string&) { return {}; }
void TCommandLineParser::AddArgument(const std::string&, const std::string&, bool, bool) {}
bool TCommandLineParser::Parse(const std::vector<std::string>&) { return false; }
TCommandLineArgument* TCommandLineParser::FindArgument(const std::string&, const std::string&) { return nullptr; }
const TCommandLineArgument* TCommandLineParser::FindArgument(const std::string&, const std::string&) const { return nullptr; }
bool TCommandLineParser::HasArgument(const std::string&, const std::string&) const { return false; }
