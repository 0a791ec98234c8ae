#include <cstdio>
#include "driver/nagios_orvane_check.h"
// placeholder until built
int main(int argc, char** argv) { std::vector<std::string> a(argv + 1, argv + argc); TProgramResult r = RunProgram(a, ""); std::fwrite(r.Output.data(), 1, r.Output.size(), stdout); return r.ExitStatus; }
