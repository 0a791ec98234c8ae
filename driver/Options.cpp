#include "driver/Options.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <new>
#include <stdexcept>

#include "common/Digits.h"
#include "common/Low32.h"
#include "common/TextCodec.h"
#include "driver/OutputFile.h"
#include "driver/ProgramInfo.h"
#include "driver/nagios_orvane_check.h"

TProgramResult UnknownResult(const std::string& Message) {
  // Nagios takes the first line as the status; a line break in the message (a
  // path given on a Linux command line, a registry value) must not cut it.
  return {"Unknown - " + FoldLineBreaks(Message) + "\n", ExitUnknown};
}

void DeclareOptions(TCommandLineParser& Parser) {
  Parser.AddArgument("h", "help", false, false);
  Parser.AddArgument("V", "version", false, false);
  Parser.AddArgument("d", "delay", true, false);
  Parser.AddArgument("r", "retry", true, false);
  Parser.AddArgument("v", "verbose", false, false);
  Parser.AddArgument("p", "path", true, false);
  Parser.AddArgument("w", "warn", true, true);
  Parser.AddArgument("c", "crit", true, true);
  for (TCounter Category : Categories) {
    const std::string Name = CounterRows[Category].Name;
    Parser.AddArgument("w" + Name, "warn" + Name, true, false);
    Parser.AddArgument("c" + Name, "crit" + Name, true, false);
  }
  Parser.AddArgument("t", "timeout", true, false);
  Parser.AddArgument("", "perfdata-thresholds", false, false);
  Parser.AddArgument("", "require-running", true, false);
  Parser.AddArgument("", "require-listening", true, false);
  Parser.AddArgument("", "details", false, false);
  Parser.AddArgument("", "max-output", true, false);
  Parser.AddArgument("", "output-format", true, false);
  Parser.AddArgument("", "output-file", true, false);
  Parser.AddArgument("", "service-prefix", true, false);
  for (const char* Name : MeasureOptionNames) Parser.AddArgument("", Name, true, false);
}

// The same banner on every build, Linux included: monitoring configurations
// match on it.
std::string BannerLine() { return ORVANE_PRODUCT_NAME " v" ORVANE_BANNER_VERSION "/Win32"; }

namespace {

// Words joined by blanks, each line started with Indent and kept within Width
// columns where a word allows: usage lines made from the category table.
std::string Wrapped(const std::string& Indent, const std::string& Words, size_t Width) {
  std::string Text, Line = Indent;
  size_t Start = 0;
  while (Start < Words.size()) {
    size_t End = Words.find(' ', Start);
    if (End == std::string::npos) End = Words.size();
    const std::string Word = Words.substr(Start, End - Start);
    if (Line.size() > Indent.size() && Line.size() + 1 + Word.size() > Width) {
      Text += Line + "\n";
      Line = Indent;
    }
    Line += (Line.size() > Indent.size() ? " " : "") + Word;
    Start = End + 1;
  }
  return Text + Line + "\n";
}

std::string CategoryNames(bool ListenersOnly) {
  std::string Names;
  for (TCounter Category : Categories) {
    if (ListenersOnly && CounterRows[Category].Role != TRole::Inbound) continue;
    Names += std::string(Names.empty() ? "" : ", ") + CounterRows[Category].Name;
  }
  return Names;
}

}  // namespace

std::string UsageText(const std::string& ExePath) {
  return BannerLine() + "\n" ORVANE_COPYRIGHT "\n\nUsage " + ExePath +
         " -w -c [-wX] [-cX] [-h] [-V] [-d delay] [-r retry] [-p path] [-v]\n"
         "\n"
         "-w, --warn=x\n"
         "   warn if total connections >= x\n"
         "\n"
         "-c, --crit=x\n"
         "   critical if total connections >= x\n"
         "\n"
         "-wX, --warnX, -cX, --critX=x\n"
         "   warn or critical if specified connections >= x\n"
         "   replace X with\n" +
         Wrapped("     ", CategoryNames(false), 80) +
         "\n"
         "-h, --help\n"
         "   print this help message\n"
         "\n"
         "-V, --version\n"
         "   print version number\n"
         "\n"
         "-d, --delay=delayInMs\n"
         "   retry delay (ms) for opening orvane dat files (Default: 500)\n"
         "\n"
         "-r, --retry=retrycount\n"
         "   retry count for opening Orvane dat files (Default: 3)\n"
         "\n"
         "-p, --path=directorypath\n"
         "   Orvane dat file directory (Default: use path from Registry key)\n"
         "\n"
         "-v, --verbose\n"
         "   Add additional output information (does not affect PerfData)\n"
         "   Use -v -v to print out debug information as well\n"
         "\n"
         "Any threshold may be a range: x: (below x), ~:y (above y), x:y (outside),\n"
         "   @x:y (inside x..y), @y (inside 0..y); a plain number keeps the meaning above\n"
         "\n"
         "-t, --timeout=seconds[:state]\n"
         "   end the run after seconds with state (Default: unknown; no timeout)\n"
         "\n"
         "--perfdata-thresholds\n"
         "   add warn, crit and min to the PerfData\n"
         "\n"
         "--require-running=names[:state]\n"
         "   state (Default: critical) if one of Orvane, Lumicourt, Helmstead is not running\n"
         "\n"
         "--require-listening=categories[:state]\n" +
         Wrapped("   ", "state (Default: critical) if the port of one of " + CategoryNames(true) +
                            " has no listener of its process",
                 83) +
         "\n"
         "--details\n"
         "   long output: one line per category below the status line; with -v -v one\n"
         "   line per counted connection\n"
         "\n"
         "--max-output=bytes\n"
         "   cut the output at a line end to fit (Default: 4096)\n"
         "\n"
         "--output-format=format\n"
         "   nagios (Default), checkmk-local (one line per service), prometheus (for the\n"
         "   textfile collectors) or json; the exit status is the verdict in each\n"
         "\n"
         "--output-file=path\n"
         "   prometheus or json: replace the file at path (absolute; for prometheus a\n"
         "   *.prom name) in one step instead of writing to standard output\n"
         "\n"
         "--service-prefix=text\n"
         "   checkmk-local: the services' names start with text (Default: Orvane)\n"
         "\n"
         "--per-source=categories[:warn[:crit]]\n"
         "   warn or critical if one remote address holds that many connections of a\n"
         "   category (any but the totals); may be repeated for other categories\n"
         "\n"
         "--top-sources=n\n"
         "   with --details, list the n busiest addresses per category (0..20, Default: 0)\n"
         "\n"
         "--per-source-prefix=v4length,v6length\n"
         "   count the addresses of one network as one source (Default: 32,128)\n"
         "\n"
         "--per-source-exclude=network[,network...]\n"
         "   leave these addresses or networks (192.0.2.0/24) out of --per-source\n"
         "\n"
         "--states=categories\n"
         "   count the TCP states SynRecv, Queued, CloseWait and TimeWait of each\n"
         "   category; of SMTPout and POPout, SynSent and CloseWait\n"
         "\n"
         "--state-warn=category:state:x, --state-crit=category:state:x\n"
         "   warn or critical if x connections of the category are in the state\n";
}

namespace {

[[noreturn]] void Malformed(const TCommandLineArgument& Option, const std::string& Value) {
  throw std::runtime_error("Invalid value --" + Option.LongName + "=" + Value);
}

// A whole positive number of at most six digits.
bool ReadCount(const std::string& Text, unsigned long& Value) {
  return Text.size() <= 6 && ParseDecimal(Text, Value) && Value > 0;
}

// Splits "WHAT[:STATE]"; false when the state is none of the four.
bool SplitState(const std::string& Value, std::string& What, TStatus& Status) {
  const size_t Colon = Value.rfind(':');
  What = Value.substr(0, Colon);
  if (Colon == std::string::npos) return true;
  const std::string State = AsciiUpper(Value.substr(Colon + 1));
  for (TStatus Each : {ExitOk, ExitWarning, ExitCritical, ExitUnknown})
    if (State == AsciiUpper(StatusWord(Each))) {
      Status = Each;
      return true;
    }
  return false;
}

// The option given by its long name, when it was given at all.
const TCommandLineArgument* Given(const TCommandLineParser& Parser, const std::string& LongName) {
  const TCommandLineArgument* Option = Parser.FindArgument("", LongName);
  return Option != nullptr && Option->Count > 0 ? Option : nullptr;
}

void ReadThreshold(const TCommandLineArgument* Option, TThreshold& Threshold) {
  if (Option != nullptr && !ParseThreshold(Option->Value, Threshold))
    throw std::runtime_error("Invalid range --" + Option->LongName + "=" + Option->Value);
}

void ReadClassic(const TCommandLineParser& Parser, TSettings& S) {
  if (auto Option = Given(Parser, "delay")) {
    S.RetryDelayGiven = true;
    S.RetryDelay = Low32(Option->AsInteger());
  }
  if (auto Option = Given(Parser, "retry")) {
    S.RetryCountGiven = true;
    S.RetryCount = Low32(Option->AsInteger());
  }
  if (auto Option = Given(Parser, "verbose")) S.Verbosity = Option->Count;
  if (auto Option = Given(Parser, "path")) {
    S.DataPathGiven = true;
    S.DataPath = Option->Value;
  }
  ReadThreshold(Given(Parser, "warn"), S.Warn[Connections]);
  ReadThreshold(Given(Parser, "crit"), S.Crit[Connections]);
  for (TCounter Category : Categories)
    ReadThreshold(Given(Parser, std::string("warn") + CounterRows[Category].Name), S.Warn[Category]);
  for (TCounter Category : Categories)
    ReadThreshold(Given(Parser, std::string("crit") + CounterRows[Category].Name), S.Crit[Category]);
}

// Each occurrence of a requirement is a group of its own, with its own
// state: a comma list of names, each found by Find.
template <typename TRequirement, typename TItem>
void ReadGroups(const TCommandLineParser& Parser, const char* LongName,
                std::vector<TItem> TRequirement::*Items, bool (*Find)(const std::string&, TItem&),
                std::vector<TRequirement>& Groups) {
  const TCommandLineArgument* Option = Given(Parser, LongName);
  if (Option == nullptr) return;
  for (const std::string& Value : Option->Values) {
    TRequirement Required;
    std::string Names;
    if (!SplitState(Value, Names, Required.State)) Malformed(*Option, Value);
    for (const std::string& Name : CommaList(Names)) {
      TItem Item;
      if (!Find(Name, Item)) Malformed(*Option, Value);
      (Required.*Items).push_back(Item);
    }
    Groups.push_back(Required);
  }
}

// A port that a listener can be required on: an inbound category's.
bool FindListenerCategory(const std::string& Name, TCounter& Category) {
  return FindCategory(Name, Category) && CounterRows[Category].Role == TRole::Inbound;
}

void ReadRequirements(const TCommandLineParser& Parser, TSettings& S) {
  ReadGroups(Parser, "require-running", &TRunningRequirement::Servers, FindServer, S.RequiredRunning);
  ReadGroups(Parser, "require-listening", &TListeningRequirement::Categories, FindListenerCategory,
             S.RequiredListening);
}

void ReadOutput(const TCommandLineParser& Parser, TSettings& S) {
  if (auto Option = Given(Parser, "output-format")) {
    const struct {
      const char* Name;
      TOutputFormat Format;
    } Formats[] = {{"nagios", TOutputFormat::Nagios},
                   {"checkmk-local", TOutputFormat::CheckmkLocal},
                   {"prometheus", TOutputFormat::Prometheus},
                   {"json", TOutputFormat::Json}};
    bool Known = false;
    for (const auto& Each : Formats)
      if (Option->Value == Each.Name) {
        S.Format = Each.Format;
        Known = true;
      }
    if (!Known) throw std::runtime_error("Invalid output format " + Option->Value);
  }
  if (auto Option = Given(Parser, "service-prefix")) {
    const std::string& Prefix = Option->Value;
    // Checkmk quotes the service name and takes neither kind of quote inside,
    // and a line break or other control would cut the line or hide in the
    // name: C0, DEL, and C1 as UTF-8 writes it (U+0085 is a line break to
    // many readers).
    bool Control = false;
    for (size_t At = 0; At < Prefix.size(); ++At) {
      const auto Byte = static_cast<unsigned char>(Prefix[At]);
      const auto Next = At + 1 < Prefix.size() ? static_cast<unsigned char>(Prefix[At + 1]) : 0u;
      if (Byte < 0x20 || Byte == 0x7F || (Byte == 0xC2 && Next >= 0x80 && Next <= 0x9F)) Control = true;
    }
    if (Prefix.size() > 100 || Control || Prefix.find_first_of("\"'") != std::string::npos)
      Malformed(*Option, Prefix);
    S.ServicePrefix = Prefix;
  }
  const bool Machine = S.Format == TOutputFormat::Prometheus || S.Format == TOutputFormat::Json;
  if (auto Option = Given(Parser, "output-file")) {
    const std::string& Path = Option->Value;
    if (!Machine)
      throw std::runtime_error("--output-file takes --output-format=prometheus or json");
    if (const std::string Problem = OutputPathProblem(Path); !Problem.empty())
      throw std::runtime_error("Can not write " + Path + ": " + Problem);
    // The collectors read only *.prom files and pass over any other silently.
    if (S.Format == TOutputFormat::Prometheus &&
        (Path.size() < 5 || Path.compare(Path.size() - 5, 5, ".prom") != 0))
      throw std::runtime_error("Invalid value --output-file=" + Path + ": the collectors read only *.prom files");
    S.OutputFile = Path;
  }
  if (S.MaxOutputGiven && S.Format != TOutputFormat::Nagios)
    throw std::runtime_error("--max-output is for the Nagios output only");
}

void ReadMeasures(const TCommandLineParser& Parser, TSettings& S) {
  TMeasureOptionValues Values;
  std::vector<std::string>* const Lists[] = {
      &Values.PerSource, &Values.TopSources, &Values.PerSourcePrefix, &Values.PerSourceExclude,
      &Values.States,    &Values.StateWarn,  &Values.StateCrit};
  static_assert(std::size(Lists) == std::size(MeasureOptionNames), "one list per option");
  for (size_t Index = 0; Index < std::size(Lists); ++Index)
    if (auto Option = Given(Parser, MeasureOptionNames[Index])) *Lists[Index] = Option->Values;
  const std::string Refused = ReadMeasureSettings(Values, S.Measures);
  if (!Refused.empty()) throw std::runtime_error(Refused);
}

TSettings ReadSettings(const TCommandLineParser& Parser) {
  TSettings S;
  ReadClassic(Parser, S);
  if (auto Option = Given(Parser, "timeout")) {
    std::string Number;
    unsigned long Seconds;
    if (!SplitState(Option->Value, Number, S.TimeoutStatus) || !ReadCount(Number, Seconds))
      Malformed(*Option, Option->Value);
    S.TimeoutSeconds = static_cast<int>(Seconds);
  }
  S.PerfdataThresholds = Given(Parser, "perfdata-thresholds") != nullptr;
  ReadRequirements(Parser, S);
  S.Details = Given(Parser, "details") != nullptr;
  if (auto Option = Given(Parser, "max-output")) {
    unsigned long Bytes;
    if (!ReadCount(Option->Value, Bytes)) Malformed(*Option, Option->Value);
    S.MaxOutput = static_cast<size_t>(Bytes);
    S.MaxOutputGiven = true;
  }
  ReadOutput(Parser, S);
  ReadMeasures(Parser, S);
  // Anything after the classic options makes the run an extended one.
  const size_t ClassicOptions = 8 + 2 * CategoryCount;
  for (size_t Index = ClassicOptions; Index < Parser.Arguments.size(); ++Index)
    if (Parser.Arguments[Index].Count > 0) S.Extended = true;
  return S;
}

TCommandLine Answer(TProgramResult Result) {
  TCommandLine Line;
  Line.Answered = true;
  Line.Answer = std::move(Result);
  return Line;
}

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& Arguments, const std::string& ExePath) {
  try {
    TCommandLineParser Parser;
    DeclareOptions(Parser);
    bool Parsed;
    try {
      Parsed = Parser.Parse(Arguments);
    } catch (const std::bad_alloc&) {
      throw;
    } catch (const std::exception& Failure) {
      return Answer(UnknownResult("Command Line Error " + std::string(Failure.what())));
    }
    // The message quotes the offending argument, which may hold a line break.
    if (!Parsed) return Answer({FoldLineBreaks(Parser.ErrorMessage) + "\n", ExitUnknown});
    if (Parser.HasArgument("", "help")) return Answer({UsageText(ExePath), ExitOk});
    if (Parser.HasArgument("", "version")) return Answer({BannerLine() + "\n", ExitOk});
    if (Parser.ParameterMissing)
      return Answer({UsageText(ExePath) + "\nError:\nMissing parameter " +
                         Parser.MissingParameters + "\n",
                     ExitUnknown});
    TCommandLine Line;
    Line.Settings = ReadSettings(Parser);
    return Line;
  } catch (const std::bad_alloc&) {
    return Answer(UnknownResult("Out of memory"));
  } catch (const std::exception& Failure) {
    return Answer(UnknownResult(Failure.what()));
  } catch (...) {
    return Answer(UnknownResult("Unexpected failure"));
  }
}

TTimeout TimeoutOf(const TCommandLine& CommandLine) {
  TTimeout Timeout;
  const TSettings& Settings = CommandLine.Settings;
  if (CommandLine.Answered || Settings.TimeoutSeconds <= 0) return Timeout;
  Timeout.Seconds = Settings.TimeoutSeconds;
  Timeout.Status = Settings.TimeoutStatus;
  const std::string Reason = "Timeout after " + std::to_string(Timeout.Seconds) + " seconds";
  Timeout.Line = std::string(StatusWord(Settings.TimeoutStatus)) + " - " + Reason + "\n";
  // What reads another format gets the timeout in that format, a run that
  // could not be made: no stale count stands, in a file either.
  if (Settings.Format != TOutputFormat::Nagios) {
    TCheckResult TimedOut = FailedResult(Reason);
    TimedOut.Status = Settings.TimeoutStatus;
    const TProgramResult Answer = Render(TimedOut, Settings);
    if (Settings.OutputFile.empty()) {
      Timeout.Line = Answer.Output;
      Timeout.Verbatim = Answer.Verbatim;
    } else {
      Timeout.OutputFile = Settings.OutputFile;
      Timeout.FileText = Answer.Output;
    }
  }
  return Timeout;
}
