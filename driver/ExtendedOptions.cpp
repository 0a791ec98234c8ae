#include "driver/ExtendedOptions.h"

#include <stdexcept>

#include "common/TextCodec.h"
#include "driver/nagios_orvane_check.h"

void DeclareExtendedOptions(TCommandLineParser& Parser) {
  Parser.AddArgument("t", "timeout", true, false);
  Parser.AddArgument("", "perfdata-thresholds", false, false);
  Parser.AddArgument("", "require-running", true, false);
  Parser.AddArgument("", "require-listening", true, false);
  Parser.AddArgument("", "details", false, false);
  Parser.AddArgument("", "max-output", true, false);
}

const char* StatusWord(int Status) {
  switch (Status) {
    case ExitOk: return "OK";
    case ExitWarning: return "WARNING";
    case ExitCritical: return "CRITICAL";
    default: return "Unknown";
  }
}

namespace {

[[noreturn]] void Malformed(const std::string& Option, const std::string& Value) {
  throw std::runtime_error("Invalid value --" + Option + "=" + Value);
}

// A whole positive number of at most six digits.
bool ReadCount(const std::string& Text, long& Value) {
  if (Text.empty() || Text.size() > 6) return false;
  Value = 0;
  for (char Digit : Text) {
    if (Digit < '0' || Digit > '9') return false;
    Value = Value * 10 + (Digit - '0');
  }
  return Value > 0;
}

// Splits "WHAT[:STATE]"; false when the state is none of the four.
bool SplitState(const std::string& Value, std::string& What, int& Status) {
  const size_t Colon = Value.rfind(':');
  What = Value.substr(0, Colon);
  if (Colon == std::string::npos) return true;
  const std::string State = AsciiUpper(Value.substr(Colon + 1));
  const char* const Words[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
  for (int Index = 0; Index < 4; ++Index)
    if (State == Words[Index]) {
      Status = Index;
      return true;
    }
  return false;
}

std::vector<std::string> CommaList(const std::string& Text) {
  std::vector<std::string> Items;
  size_t Start = 0;
  for (;;) {
    const size_t Comma = Text.find(',', Start);
    Items.push_back(Text.substr(Start, Comma - Start));
    if (Comma == std::string::npos) return Items;
    Start = Comma + 1;
  }
}

bool ReadTimeout(const std::string& Value, int& Seconds, int& Status) {
  std::string Number;
  long Count;
  if (!SplitState(Value, Number, Status) || !ReadCount(Number, Count)) return false;
  Seconds = static_cast<int>(Count);
  return true;
}

}  // namespace

TExtendedSettings ReadExtendedSettings(const TCommandLineParser& Parser) {
  TExtendedSettings Settings;
  if (auto Option = Given(Parser, "timeout")) {
    if (!ReadTimeout(Option->Value, Settings.TimeoutSeconds, Settings.TimeoutStatus))
      Malformed("timeout", Option->Value);
    Settings.Given = true;
  }
  if (Given(Parser, "perfdata-thresholds")) Settings.Given = Settings.PerfdataThresholds = true;
  if (auto Option = Given(Parser, "require-running")) {
    std::string Names;
    if (!SplitState(Option->Value, Names, Settings.RunningStatus))
      Malformed("require-running", Option->Value);
    for (const std::string& Name : CommaList(Names)) {
      const int Server = ServerIndex(Name);
      if (Server < 0) Malformed("require-running", Option->Value);
      Settings.RequiredServers.push_back(Server);
    }
    Settings.Given = true;
  }
  if (auto Option = Given(Parser, "require-listening")) {
    std::string Names;
    if (!SplitState(Option->Value, Names, Settings.ListeningStatus))
      Malformed("require-listening", Option->Value);
    for (const std::string& Name : CommaList(Names)) {
      const TListenerCategory* Listener = FindListenerCategory(Name);
      if (Listener == nullptr) Malformed("require-listening", Option->Value);
      Settings.RequiredListeners.push_back(Listener);
    }
    Settings.Given = true;
  }
  if (Given(Parser, "details")) Settings.Given = Settings.Details = true;
  if (auto Option = Given(Parser, "max-output")) {
    long Bytes;
    if (!ReadCount(Option->Value, Bytes)) Malformed("max-output", Option->Value);
    Settings.MaxOutput = static_cast<size_t>(Bytes);
    Settings.Given = true;
  }
  return Settings;
}

TTimeout FindTimeout(const std::vector<std::string>& Arguments) {
  TTimeout Timeout;
  try {
    TCommandLineParser Parser;
    DeclareOptions(Parser);
    DeclareExtendedOptions(Parser);
    if (!Parser.Parse(Arguments)) return Timeout;
    const TCommandLineArgument* Option = Given(Parser, "timeout");
    if (Option == nullptr || !ReadTimeout(Option->Value, Timeout.Seconds, Timeout.Status))
      return TTimeout();
    Timeout.Line = std::string(StatusWord(Timeout.Status)) + " - Timeout after " +
                   std::to_string(Timeout.Seconds) + " seconds\n";
  } catch (...) {
    return TTimeout();
  }
  return Timeout;
}
