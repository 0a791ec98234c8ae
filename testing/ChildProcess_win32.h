// Windows only: a program started with its command line as typed, for the
// tests of how the check splits its own command line.
#pragma once

#include <string>

#include "testing/ChildProcess.h"

// Runs Program with ArgumentText after its quoted name on the command line,
// in WorkingDirectory (when given), as RunCommand does.
TCommandResult RunCommandLine(const std::string& Program, const std::string& ArgumentText,
                              const std::string& WorkingDirectory = "");
