#include "driver/nagios_orvane_check.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/Low32.h"
#include "common/TextCodec.h"
#include "driver/ExtendedOptions.h"
#include "driver/LongOutput.h"
#include "driver/ProgramInfo.h"

void DeclareOptions(TCommandLineParser& Parser) {
  Parser.AddArgument("h", "help", false, false);
  Parser.AddArgument("V", "version", false, false);
  Parser.AddArgument("d", "delay", true, false);
  Parser.AddArgument("r", "retry", true, false);
  Parser.AddArgument("v", "verbose", false, false);
  Parser.AddArgument("p", "path", true, false);
  Parser.AddArgument("w", "warn", true, true);
  Parser.AddArgument("c", "crit", true, true);
  for (const TCounterRow* Category : Categories) {
    const std::string Name = Category->Name;
    Parser.AddArgument("w" + Name, "warn" + Name, true, false);
    Parser.AddArgument("c" + Name, "crit" + Name, true, false);
  }
}

// The same banner on every build, Linux included: monitoring configurations
// match on it.
std::string BannerLine() { return ORVANE_PRODUCT_NAME " v" ORVANE_BANNER_VERSION "/Win32"; }

std::string UsageText(const std::string& ExePath) {
  const std::string Lines[] = {
      BannerLine(),
      ORVANE_COPYRIGHT,
      "",
      "Usage " + ExePath + " -w -c [-wX] [-cX] [-h] [-V] [-d delay] [-r retry] [-p path] [-v]",
      "",
      "-w, --warn=x",
      "   warn if total connections >= x",
      "",
      "-c, --crit=x",
      "   critical if total connections >= x",
      "",
      "-wX, --warnX, -cX, --critX=x",
      "   warn or critical if specified connections >= x",
      "   replace X with",
      "     SMTPin, SMTPout, SMTPSSL, SMTPTotal, POPin, POPout, POPSSL, POPTotal,",
      "     IMAPin, IMAPSSL, IMAPTotal, LCin, LCSSL, LCTotal, HSin, HSSSL, HSTotal",
      "",
      "-h, --help",
      "   print this help message",
      "",
      "-V, --version",
      "   print version number",
      "",
      "-d, --delay=delayInMs",
      "   retry delay (ms) for opening orvane dat files (Default: 500)",
      "",
      "-r, --retry=retrycount",
      "   retry count for opening Orvane dat files (Default: 3)",
      "",
      "-p, --path=directorypath",
      "   Orvane dat file directory (Default: use path from Registry key)",
      "",
      "-v, --verbose",
      "   Add additional output information (does not affect PerfData)",
      "   Use -v -v to print out debug information as well",
      "",
      "Any threshold may be a range: x: (below x), ~:y (above y), x:y (outside),",
      "   @x:y (inside x..y), @y (inside 0..y); a plain number keeps the meaning above",
      "",
      "-t, --timeout=seconds[:state]",
      "   end the run after seconds with state (Default: unknown; no timeout)",
      "",
      "--perfdata-thresholds",
      "   add warn, crit and min to the PerfData",
      "",
      "--require-running=names[:state]",
      "   state (Default: critical) if one of Orvane, Lumicourt, Helmstead is not running",
      "",
      "--require-listening=categories[:state]",
      "   state (Default: critical) if the port of one of SMTPin, SMTPSSL, POPin, POPSSL,",
      "   IMAPin, IMAPSSL, LCin, LCSSL, HSin, HSSSL has no listener of its process",
      "",
      "--details",
      "   long output: one line per category below the status line; with -v -v one",
      "   line per counted connection",
      "",
      "--max-output=bytes",
      "   cut the output at a line end to fit (Default: 4096)",
  };
  std::string Text;
  for (const std::string& Line : Lines) Text += Line + "\n";
  return Text;
}

namespace {

enum class TCounterList { Summary, Detail, Performance };

// The counters of one list in the order of the table, joined by one blank,
// each written as label, "=" and value.
std::string Items(const TOrvaneCheck& C, TCounterList List) {
  std::string Text;
  for (const TCounterRow& Row : CounterRows) {
    const char* Label = Row.Label;
    if (List == TCounterList::Summary) Label = Row.SummaryLabel;
    if (List == TCounterList::Detail && !Row.Detailed) Label = nullptr;
    if (Label == nullptr) continue;
    if (!Text.empty()) Text += ' ';
    Text += Label;
    Text += '=';
    Text += std::to_string(C.*Row.Counter);
  }
  return Text;
}

}  // namespace

std::string StatusLine(const TOrvaneCheck& C) {
  std::string Line;
  if (C.IsCritical) {
    Line = "CRITICAL - " + C.CriticalText;
  } else if (C.IsWarning) {
    Line = "WARNING - " + C.WarningText;
  } else {
    Line = "OK - " + Items(C, C.Verbosity <= 0 ? TCounterList::Summary : TCounterList::Detail);
  }
  // Performance data items are separated by blanks, as Nagios expects.
  Line += "|" + Items(C, TCounterList::Performance);
  return Line;
}

const TCommandLineArgument* Given(const TCommandLineParser& Parser, const std::string& LongName) {
  const TCommandLineArgument* Option = Parser.FindArgument("", LongName);
  return Option != nullptr && Option->Count > 0 ? Option : nullptr;
}

namespace {

// A threshold: a plain number as a level, anything that starts like a range
// as a range, which must then be one.
void Threshold(const TCommandLineArgument& Option, int32_t& Level, std::optional<TRange>& Range) {
  if (!IsRangeText(Option.Value)) {
    Level = Low32(Option.AsInteger());
    return;
  }
  Range.emplace();
  if (!ParseRange(Option.Value, *Range))
    throw std::runtime_error("Invalid range --" + Option.LongName + "=" + Option.Value);
}

void MoveSettings(const TCommandLineParser& Parser, TOrvaneCheck& Check) {
  if (auto Option = Given(Parser, "delay")) Check.RetryDelay = Low32(Option->AsInteger());
  if (auto Option = Given(Parser, "retry")) Check.RetryCount = Low32(Option->AsInteger());
  if (auto Option = Given(Parser, "verbose")) Check.Verbosity = Option->Count;
  if (auto Option = Given(Parser, "path")) Check.DataPath = Option->Value;
  if (auto Option = Given(Parser, "warn")) Threshold(*Option, Check.WarnTotal, Check.WarnTotalRange);
  if (auto Option = Given(Parser, "crit")) Threshold(*Option, Check.CritTotal, Check.CritTotalRange);
  for (int Index = 0; Index < CategoryCount; ++Index)
    if (auto Option = Given(Parser, std::string("warn") + Categories[Index]->Name))
      Threshold(*Option, Check.WarnLevels[Index], Check.WarnRanges[Index]);
  for (int Index = 0; Index < CategoryCount; ++Index)
    if (auto Option = Given(Parser, std::string("crit") + Categories[Index]->Name))
      Threshold(*Option, Check.CritLevels[Index], Check.CritRanges[Index]);
}

// Nagios takes the first line as the status; a line break in the message (a
// path given on a Linux command line, a registry value) must not cut it.
TProgramResult Unknown(const std::string& Message) {
  return {"Unknown - " + FoldLineBreaks(Message) + "\n", ExitUnknown};
}

TProgramResult Run(const std::vector<std::string>& Arguments, const std::string& ExePath,
                   const TCheckSystem& System) {
  auto Parser = std::make_unique<TCommandLineParser>();
  DeclareOptions(*Parser);
  DeclareExtendedOptions(*Parser);
  bool Parsed;
  try {
    Parsed = Parser->Parse(Arguments);
  } catch (const std::exception& Failure) {
    return Unknown("Command Line Error " + std::string(Failure.what()));
  }
  // The message quotes the offending argument, which may hold a line break.
  if (!Parsed) return {FoldLineBreaks(Parser->ErrorMessage) + "\n", ExitUnknown};
  if (Parser->HasArgument("", "help")) return {UsageText(ExePath), ExitOk};
  if (Parser->HasArgument("", "version")) return {BannerLine() + "\n", ExitOk};
  if (Parser->ParameterMissing)
    return {UsageText(ExePath) + "\nError:\nMissing parameter " + Parser->MissingParameters + "\n",
            ExitUnknown};

  // Any failure from here on reaches the caller, which reports it as UNKNOWN:
  // a check that could not be made must never look like a verdict.
  auto Check = std::make_unique<TOrvaneCheck>(System);
  MoveSettings(*Parser, *Check);
  const TExtendedSettings Extended = ReadExtendedSettings(*Parser);
  Check->DumpLines = Extended.Details;
  Parser.reset();
  Check->LoadPorts();
  Check->Run();
  if (Extended.Given) return ExtendedResult(*Check, Extended);
  int Status = ExitOk;
  if (Check->IsCritical) Status = ExitCritical;
  else if (Check->IsWarning) Status = ExitWarning;
  return {Check->DebugDump + StatusLine(*Check) + "\n", Status};
}

}  // namespace

TProgramResult RunProgram(const std::vector<std::string>& Arguments, const std::string& ExePath,
                          const TCheckSystem& System) {
  try {
    return Run(Arguments, ExePath, System);
  } catch (const std::bad_alloc&) {
    return Unknown("Out of memory");
  } catch (const std::exception& Failure) {
    return Unknown(Failure.what());
  } catch (...) {
    return Unknown("Unexpected failure");
  }
}
