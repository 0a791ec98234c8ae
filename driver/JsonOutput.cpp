#include "driver/JsonOutput.h"

#include <cstdio>

#include "common/TextCodec.h"
#include "driver/MachineOutput.h"
#include "driver/NagiosOutput.h"

namespace {

// A JSON string of ASCII alone: controls and everything beyond ASCII as
// \u escapes of UTF-16 units (a broken UTF-8 sequence as U+FFFD).
std::string String(const std::string& Text) {
  std::string Quoted = "\"";
  for (char16_t Unit : Utf8ToUtf16(Text)) {
    if (Unit == '"' || Unit == '\\') {
      Quoted += '\\';
      Quoted += static_cast<char>(Unit);
    } else if (Unit >= 0x20 && Unit < 0x7F) {
      Quoted += static_cast<char>(Unit);
    } else {
      char Escape[8];
      std::snprintf(Escape, sizeof Escape, "\\u%04x", static_cast<unsigned>(Unit));
      Quoted += Escape;
    }
  }
  return Quoted + '"';
}

std::string Number(bool Known, int64_t Value) { return Known ? std::to_string(Value) : "null"; }
std::string Boolean(bool Known, bool Value) { return Known ? (Value ? "true" : "false") : "null"; }

// A threshold as given on the command line; null when not set.
std::string Threshold(const TThreshold& Threshold) {
  if (Threshold.Range) return String(Threshold.Range->Text);
  return Threshold.Level > 0 ? String(std::to_string(Threshold.Level)) : "null";
}

// The state's word in capitals, as the status line's first three are.
std::string StateName(TStatus Status) { return String(AsciiUpper(StatusWord(Status))); }

// Every counter shown, keyed by its metric name: count, the state its
// thresholds make, and the thresholds.
std::string CategoryObjects(const TCheckResult& R, const TSettings& Settings, bool Known) {
  std::string Text;
  for (const TCounterRow& Row : CounterRows) {
    if (Row.Metric == nullptr) continue;
    const TMeasure& M = R.Measures[Row.Id];
    Text += std::string(Text.empty() ? "" : ",") + '"' + Row.Metric + "\":{\"count\":" + Number(Known, M.Count) +
            ",\"state\":" + (Known ? StateName(MeasureStatus(M)) : "null") +
            ",\"warn\":" + Threshold(Settings.Warn[Row.Id]) + ",\"crit\":" + Threshold(Settings.Crit[Row.Id]) + '}';
  }
  return '{' + Text + '}';
}

// A measure beyond the counters: its count, the state its thresholds make,
// and the thresholds.
std::string MeasureObject(const TMeasure* M, const char* CountKey, const TThreshold& Warn, const TThreshold& Crit) {
  return std::string("{\"") + CountKey + "\":" + Number(M != nullptr, M ? M->Count : 0) +
         ",\"state\":" + (M ? StateName(MeasureStatus(*M)) : "null") + ",\"warn\":" + Threshold(Warn) +
         ",\"crit\":" + Threshold(Crit) + '}';
}

// Per category asked for: how many sources, and the most one of them holds.
std::string SourceObjects(const TCheckResult& R, const TSettings& Settings) {
  std::string Text;
  for (const TPerSourceCategory& Asked : Settings.Measures.PerSource) {
    const TSourceMeasure* Source = FindSource(R, Asked.Category);
    std::string Object = MeasureObject(Source ? &Source->Busiest : nullptr, "max", Asked.Warn, Asked.Crit);
    Object.insert(1, "\"sources\":" + Number(Source != nullptr, Source ? Source->Sources : 0) + ',');
    Text += std::string(Text.empty() ? "" : ",") + '"' + CounterRows[Asked.Category].Metric + "\":" + Object;
  }
  return '{' + Text + '}';
}

// Per category asked for, its states.
std::string StateObjects(const TCheckResult& R, const TSettings& Settings) {
  std::string Text;
  TCounter Open = CounterCount;
  for (const auto& [Category, State] : AskedStates(Settings.Measures)) {
    if (Category != Open) {
      Text += std::string(Open == CounterCount ? "" : "},") + '"' + CounterRows[Category].Metric + "\":{";
      Open = Category;
    } else {
      Text += ',';
    }
    const TStateMeasure* Found = FindState(R, Category, State);
    Text += '"' + StateKey(State) + "\":" +
            MeasureObject(Found ? &Found->Measure : nullptr, "count",
                          StateThreshold(Settings.Measures.StateWarn, Category, State),
                          StateThreshold(Settings.Measures.StateCrit, Category, State));
  }
  return '{' + Text + (Open == CounterCount ? "" : "}") + '}';
}

}  // namespace

TProgramResult JsonOutput(const TCheckResult& R, const TSettings& Settings) {
  const bool Known = R.Failure.empty();
  std::string Processes;
  for (int Server = 0; Server < ServerCount; ++Server)
    Processes += std::string(Server ? "," : "") + '"' + ServerNames[Server] + "\":" + Boolean(Known, R.Running[Server]);
  std::string Listeners;
  for (TCounter Category : AskedListeners(Settings)) {
    const TListenerFinding* Finding = FindListener(R, Category);
    Listeners += std::string(Listeners.empty() ? "" : ",") + '"' + CounterRows[Category].Metric +
                 "\":{\"port\":" + Number(Finding != nullptr, Finding ? Finding->Port : 0) +
                 ",\"listening\":" + Boolean(Finding != nullptr, Finding && Finding->Listening) + '}';
  }
  const std::string Text = "{\"version\":1,\"status\":" + StateName(R.Status) +
                           ",\"exit\":" + std::to_string(R.Status) + ",\"summary\":" + String(StatusText(R)) +
                           ",\"reason\":" + (Known ? "null" : String(R.Failure)) +
                           ",\"categories\":" + CategoryObjects(R, Settings, Known) + ",\"processes\":{" + Processes +
                           "},\"listeners\":{" + Listeners + "},\"sources\":" + SourceObjects(R, Settings) +
                           ",\"states\":" + StateObjects(R, Settings) + "}\n";
  return MachineResult(Text, R, Settings);
}
