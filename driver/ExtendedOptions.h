// The options beyond the classic command line: ranges are read with the
// classic thresholds, the rest lands here. None of them given, the program
// runs exactly as it always has.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "check/OrvaneCheck.h"
#include "check/Requirements.h"
#include "cmdline/CommandLineParser.h"

// Declares the options after the classic ones, in their order.
void DeclareExtendedOptions(TCommandLineParser& Parser);

struct TExtendedSettings {
  bool Given = false;  // any of the options below
  bool PerfdataThresholds = false;
  std::vector<int> RequiredServers;  // indexes in ServerNames
  int RunningStatus = 2;
  std::vector<const TListenerCategory*> RequiredListeners;
  int ListeningStatus = 2;
  bool Details = false;
  size_t MaxOutput = 4096;
  int TimeoutSeconds = 0;  // 0: none
  int TimeoutStatus = 3;
};

// Reads the extended options; throws std::runtime_error naming the option and
// its value when one is malformed.
TExtendedSettings ReadExtendedSettings(const TCommandLineParser& Parser);

// The timeout of a command line, for the platform entry to arm before the
// run: its seconds (0: none), status and the one line it ends with. A command
// line that does not parse, or a malformed timeout, has none (the run itself
// reports them). Never throws.
struct TTimeout {
  int Seconds = 0;
  int Status = 3;
  std::string Line;  // "Unknown - Timeout after N seconds" with the status's word
};
TTimeout FindTimeout(const std::vector<std::string>& Arguments);

// The status's word as the status line starts with it.
const char* StatusWord(int Status);
