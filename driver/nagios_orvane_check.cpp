#include "driver/nagios_orvane_check.h"
// placeholder until built
TProgramResult RunProgram(const std::vector<std::string>&, const std::string&, const TCheckSystem&) { return {}; }
