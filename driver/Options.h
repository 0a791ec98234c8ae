// The command line: its options declared once, parsed once into one settings
// value, and every malformed value refused before anything is read.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "check/MeasureOptions.h"
#include "check/OrvaneCheck.h"
#include "cmdline/CommandLineParser.h"

// What a run gives: its text and its exit status. Only main writes and exits.
struct TProgramResult {
  TProgramResult() = default;
  TProgramResult(std::string Text, int Status) : Output(std::move(Text)), ExitStatus(Status) {}

  std::string Output;  // lines ended by "\n"; the platform writes them out
  int ExitStatus = ExitUnknown;
  // Written as they are, UTF-8 with LF on every platform (the machine
  // formats), instead of in the platform's text form.
  bool Verbatim = false;
  // An absolute path: the output replaces that file in one step instead of
  // going to standard output.
  std::string OutputFile;
};

// The one line of a run that ends without a verdict.
TProgramResult UnknownResult(const std::string& Message);

enum class TOutputFormat { Nagios, CheckmkLocal, Prometheus, Json };

struct TSettings {
  // The classic command line; a setting not given keeps the check's default.
  bool RetryDelayGiven = false, RetryCountGiven = false, DataPathGiven = false;
  int32_t RetryDelay = 0, RetryCount = 0, Verbosity = 0;
  std::string DataPath;
  std::array<TThreshold, CounterCount> Warn, Crit;  // Connections and the categories

  // Any option beyond the classic ones: the output is then fitted to MaxOutput.
  bool Extended = false;
  bool PerfdataThresholds = false;
  std::vector<TRunningRequirement> RequiredRunning;
  std::vector<TListeningRequirement> RequiredListening;
  bool Details = false;
  bool MaxOutputGiven = false;
  size_t MaxOutput = 4096;
  int TimeoutSeconds = 0;  // 0: none
  TStatus TimeoutStatus = ExitUnknown;
  TOutputFormat Format = TOutputFormat::Nagios;
  std::string OutputFile;
  std::string ServicePrefix = "Orvane";
  // Connections per source and TCP states of the services.
  TMeasureSettings Measures;
};

// A parsed command line: either the answer it ends with at once (help,
// version, a command-line error, a refused value) or the settings of a run.
struct TCommandLine {
  bool Answered = false;
  TProgramResult Answer;
  TSettings Settings;
};

// Declares every option in its order: the classic 42, then the extended ones.
void DeclareOptions(TCommandLineParser& Parser);

// Never throws: a failure is an UNKNOWN answer.
TCommandLine ParseCommandLine(const std::vector<std::string>& Arguments, const std::string& ExePath);

std::string BannerLine();  // without line break
// The usage text, every line ended by "\n"; ExePath is the running program's full path.
std::string UsageText(const std::string& ExePath);

// The timeout a run's watchdog is armed with: its seconds (0: none), status
// and the one line it ends with.
struct TTimeout {
  int Seconds = 0;
  int Status = ExitUnknown;
  // "Unknown - Timeout after N seconds\n" with the status's word; in the
  // output format asked for when it goes to standard output.
  std::string Line;
  bool Verbatim = false;  // as TProgramResult::Verbatim
  // With --output-file: the file and the timed-out run in its format, which
  // replace the old counts; Line then goes out only when the file cannot.
  std::string OutputFile, FileText;
};
TTimeout TimeoutOf(const TCommandLine& CommandLine);
