// The program: options, usage text, status line and the check run. Everything
// here produces text and an exit status; only main writes and exits.
#pragma once

#include <string>
#include <vector>

#include "check/OrvaneCheck.h"
#include "cmdline/CommandLineParser.h"

constexpr int ExitOk = 0;
constexpr int ExitWarning = 1;
constexpr int ExitCritical = 2;
constexpr int ExitUnknown = 3;

// Declares the program's 42 options in their order.
void DeclareOptions(TCommandLineParser& Parser);

// The option given by its long name, when it was given at all.
const TCommandLineArgument* Given(const TCommandLineParser& Parser, const std::string& LongName);

std::string BannerLine();  // without line break
// The usage text, every line ended by "\n"; ExePath is the running program's full path.
std::string UsageText(const std::string& ExePath);

// The status line without its line break: verdict, text and performance data.
std::string StatusLine(const TOrvaneCheck& Check);

struct TProgramResult {
  std::string Output;  // lines ended by "\n"; the platform writes them out
  int ExitStatus = ExitUnknown;
  // Written as they are, UTF-8 with LF on every platform (the machine
  // formats), instead of in the platform's text form.
  bool Verbatim = false;
  // An absolute path: the output replaces that file in one step instead of
  // going to standard output.
  std::string OutputFile;
};

// One whole run of the program over its arguments (after the program name).
TProgramResult RunProgram(const std::vector<std::string>& Arguments, const std::string& ExePath,
                          const TCheckSystem& System);
