#include "driver/PrometheusOutput.h"

#include <chrono>

#include "common/TextCodec.h"
#include "driver/MachineOutput.h"
#include "driver/NagiosOutput.h"

namespace {

// Help text as both parsers take it: the 0.0.4 parser knows two escapes
// alone (backslash, line feed) and refuses an escaped quote, which
// OpenMetrics demands for a quote; so a quote from outside becomes an
// apostrophe.
std::string HelpText(const std::string& Text) {
  std::string Escaped;
  for (char Character : FoldLineBreaks(Text)) {
    if (Character == '\\') Escaped += "\\\\";
    else if (Character == '"') Escaped += '\'';
    else Escaped += Character;
  }
  return Escaped;
}

void Family(std::string& Text, const char* Name, const std::string& Help) {
  Text += std::string("# HELP ") + Name + ' ' + HelpText(Help) + "\n# TYPE " + Name + " gauge\n";
}

// Label values here are the program's own names and numbers: no escapes.
void Sample(std::string& Text, const char* Name, const std::string& Labels, int64_t Value) {
  Text += Name + (Labels.empty() ? std::string() : '{' + Labels + '}') + ' ' + std::to_string(Value) + '\n';
}

}  // namespace

std::string PrometheusText(const TCheckResult& R, const TSettings& Settings, int64_t Now) {
  std::string Text;
  // A run that could not be made leaves no counts: old ones must not stand
  // as if they were this run's.
  const bool Failed = !R.Failure.empty();
  Family(Text, "orvane_check_status",
         "The check's state: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN." +
             (Failed ? " This run: " + StatusText(R) : std::string()));
  Sample(Text, "orvane_check_status", "", R.Status);
  if (!Failed) {
    Family(Text, "orvane_connections",
           "Established connections of the mail server's processes by category; all is every counted one, "
           "*_total the sum of a service.");
    for (const TCounterRow& Row : CounterRows)
      if (Row.Metric != nullptr)
        Sample(Text, "orvane_connections", std::string("category=\"") + Row.Metric + '"', R.Measures[Row.Id].Count);
    Family(Text, "orvane_process_running", "Whether a process of the server's own file name runs.");
    for (int Server = 0; Server < ServerCount; ++Server)
      Sample(Text, "orvane_process_running", std::string("process=\"") + ServerNames[Server] + '"',
             R.Running[Server] ? 1 : 0);
    // The measures asked for beyond the counters; never an address as a label.
    if (!R.Sources.empty()) {
      Family(Text, "orvane_source_connections_max",
             "The most connections that one remote address (or network, as --per-source-prefix groups "
             "them) holds in the category.");
      for (const TSourceMeasure& Source : R.Sources)
        Sample(Text, "orvane_source_connections_max",
               std::string("category=\"") + CounterRows[Source.Category].Metric + '"', Source.Busiest.Count);
      Family(Text, "orvane_sources", "Remote addresses (or networks) with connections in the category.");
      for (const TSourceMeasure& Source : R.Sources)
        Sample(Text, "orvane_sources", std::string("category=\"") + CounterRows[Source.Category].Metric + '"',
               Source.Sources);
    }
    if (!R.States.empty()) {
      Family(Text, "orvane_state_connections", "Connections of the category in the TCP state.");
      for (const TStateMeasure& State : R.States)
        Sample(Text, "orvane_state_connections",
               std::string("category=\"") + CounterRows[State.Category].Metric + "\",state=\"" +
                   StateKey(State.State) + '"',
               State.Measure.Count);
    }
    const std::vector<TCounter> Asked = AskedListeners(Settings);
    if (!Asked.empty()) {
      Family(Text, "orvane_listening",
             "Whether the category's port has a TCP listener of its process, for the categories asked.");
      for (TCounter Category : Asked)
        if (const TListenerFinding* Finding = FindListener(R, Category))
          Sample(Text, "orvane_listening",
                 std::string("category=\"") + CounterRows[Category].Metric + "\",port=\"" +
                     std::to_string(Finding->Port) + '"',
                 Finding->Listening ? 1 : 0);
    }
  }
  Family(Text, "orvane_last_run_timestamp_seconds", "When the check ran, in seconds since 1970.");
  Sample(Text, "orvane_last_run_timestamp_seconds", "", Now);
  return Text + "# EOF\n";
}

TProgramResult PrometheusOutput(const TCheckResult& Result, const TSettings& Settings) {
  const int64_t Now = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  return MachineResult(PrometheusText(Result, Settings, Now), Result, Settings);
}
