// The program: one run from the command line to the rendered result.
// Everything here produces text and an exit status; only main writes and
// exits.
#pragma once

#include <string>
#include <vector>

#include "check/OrvaneCheck.h"
#include "driver/Options.h"

// One whole run of a parsed command line. Never throws.
TProgramResult RunProgram(const TCommandLine& CommandLine, const TCheckSystem& System);

// The same over the arguments (after the program name).
TProgramResult RunProgram(const std::vector<std::string>& Arguments, const std::string& ExePath,
                          const TCheckSystem& System);

// The result of a finished run in the format the settings ask for.
TProgramResult Render(const TCheckResult& Result, const TSettings& Settings);
