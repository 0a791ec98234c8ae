#include "driver/nagios_orvane_check.h"

#include <exception>
#include <memory>
#include <new>

#include "common/TextCodec.h"
#include "driver/CheckmkOutput.h"
#include "driver/JsonOutput.h"
#include "driver/NagiosOutput.h"
#include "driver/PrometheusOutput.h"

namespace {

// Any failure reaches the caller, which makes it the result's reason: a check
// that could not be made must never look like a verdict.
TCheckResult RunCheck(const TSettings& Settings, const TCheckSystem& System) {
  auto Check = std::make_unique<TOrvaneCheck>(System);
  if (Settings.RetryDelayGiven) Check->RetryDelay = Settings.RetryDelay;
  if (Settings.RetryCountGiven) Check->RetryCount = Settings.RetryCount;
  if (Settings.DataPathGiven) Check->DataPath = Settings.DataPath;
  Check->Verbosity = Settings.Verbosity;
  Check->Warn = Settings.Warn;
  Check->Crit = Settings.Crit;
  Check->RequiredRunning = Settings.RequiredRunning;
  Check->RequiredListening = Settings.RequiredListening;
  Check->Measures = Settings.Measures;
  Check->LoadPorts();
  Check->Run();
  return Check->TakeResult();
}

}  // namespace

TProgramResult Render(const TCheckResult& Result, const TSettings& Settings) {
  switch (Settings.Format) {
    case TOutputFormat::CheckmkLocal: return CheckmkOutput(Result, Settings);
    case TOutputFormat::Prometheus: return PrometheusOutput(Result, Settings);
    case TOutputFormat::Json: return JsonOutput(Result, Settings);
    case TOutputFormat::Nagios: break;
  }
  return NagiosOutput(Result, Settings);
}

TProgramResult RunProgram(const TCommandLine& CommandLine, const TCheckSystem& System) {
  TProgramResult Output = CommandLine.Answer;
  if (!CommandLine.Answered) {
    TCheckResult Result;
    try {
      Result = RunCheck(CommandLine.Settings, System);
    } catch (const std::bad_alloc&) {
      Result = FailedResult("Out of memory");
    } catch (const std::exception& Failure) {
      Result = FailedResult(Failure.what());
    } catch (...) {
      Result = FailedResult("Unexpected failure");
    }
    try {
      Output = Render(Result, CommandLine.Settings);
    } catch (...) {
      Output = UnknownResult("Out of memory");
    }
  }
  // Names and paths are echoed as the system holds them; a Linux one need
  // not be UTF-8, which every consumer of the output expects.
  Output.Output = SanitizeUtf8(std::move(Output.Output));
  return Output;
}

TProgramResult RunProgram(const std::vector<std::string>& Arguments, const std::string& ExePath,
                          const TCheckSystem& System) {
  return RunProgram(ParseCommandLine(Arguments, ExePath), System);
}
