#include <cstdio>
#include "driver/nagios_orvane_check.h"
// placeholder until built
int main() { TProgramResult r = RunProgram({}, ""); std::fwrite(r.Output.data(), 1, r.Output.size(), stdout); return r.ExitStatus; }
