#include "driver/CheckmkOutput.h"

#include "common/TextCodec.h"
#include "driver/MachineOutput.h"
#include "driver/NagiosOutput.h"

namespace {

// A service watches a server when one of its connection categories is that
// server's; the connections service has none.
bool Watches(TGroup Group, TServer Server) {
  for (const TCounterRow& Row : CounterRows)
    if (Row.Group == Group && Row.Server == Server && IsCategory(Row)) return true;
  return false;
}

// Checkmk reads a level as an upper bound, a number; a range is left out
// (the state is the program's own either way).
std::string Level(const TThreshold& Threshold) {
  return !Threshold.Range && Threshold.Level > 0 ? std::to_string(Threshold.Level) : std::string();
}

bool InGroup(TCounter Category, TGroup Group) { return CounterRows[Category].Group == Group; }

// The service's metrics: name=value;warn;crit;0; joined by '|': its
// counters, then the measures asked for beyond them, named as in the
// performance data.
std::string Metrics(const TCheckResult& R, TGroup Group) {
  std::string Text;
  auto Add = [&Text](const std::string& Name, const TMeasure& M) {
    Text += (Text.empty() ? "" : "|") + Name + '=' + std::to_string(M.Count) + ';' + Level(M.Warn) + ';' +
            Level(M.Crit) + ";0;";
  };
  for (const TCounterRow& Row : CounterRows)
    if (Row.Group == Group && Row.Label != nullptr) Add(Row.Label, R.Measures[Row.Id]);
  for (const TLabelledMeasure& M : LabelledMeasures(R))
    if (InGroup(M.Category, Group)) Add(M.Label, M.Measure);
  return Text.empty() ? "-" : Text;
}

const char* Reached(const TMeasure& M) { return M.CritReached ? " critical" : M.WarnReached ? " warning" : nullptr; }

// Checkmk turns every "\n" of the text into a line break, so text from
// outside (a Windows path such as C:\new\) must not hold one: a zero-width
// space goes between the backslash and the n.
std::string OutsideText(const std::string& Text) {
  std::string Safe = FoldLineBreaks(Text);
  for (size_t At = Safe.find("\\n"); At != std::string::npos; At = Safe.find("\\n", At + 4))
    Safe.insert(At + 1, "\xE2\x80\x8B");
  return Safe;
}

// What is wrong first (servers not running, ports not listening, thresholds
// reached), then the counts; the long output below it with --details.
std::string Text(const TCheckResult& R, TGroup Group, bool Details) {
  std::string Findings;
  auto Add = [&Findings](const std::string& Finding) {
    Findings += (Findings.empty() ? "" : ", ") + Finding;
  };
  for (const auto& Missing : R.NotRunning)
    if (Watches(Group, Missing.first)) Add(std::string(ServerNames[int(Missing.first)]) + " not running");
  for (const TListenerFinding& Listener : R.Listeners)
    if (!Listener.Listening && CounterRows[Listener.Category].Group == Group)
      Add(std::string(CounterRows[Listener.Category].Name) + " port " + std::to_string(Listener.Port) +
          " not listening");
  std::string Counts, Long;
  for (const TCounterRow& Row : CounterRows) {
    if (Row.Group != Group) continue;
    const TMeasure& M = R.Measures[Row.Id];
    if (Reached(M) && Row.Name != nullptr) Add(std::string(Row.Name) + '=' + std::to_string(M.Count) + Reached(M));
    if (Row.Label != nullptr)
      Counts += (Counts.empty() ? "" : " ") + std::string(Row.Label) + '=' + std::to_string(M.Count);
    const std::string Line = Details ? CategoryLine(R, Row) : std::string();
    if (!Line.empty()) Long += "\\n" + Line;
  }
  for (const TSourceMeasure& Source : R.Sources)
    if (InGroup(Source.Category, Group) && Reached(Source.Busiest))
      Add(std::string(CounterRows[Source.Category].Name) + ' ' + std::to_string(Source.Busiest.Count) +
          " connections from " + OutsideText(Source.BusiestSource) + Reached(Source.Busiest));
  for (const TStateMeasure& State : R.States)
    if (InGroup(State.Category, Group) && Reached(State.Measure))
      Add(std::string(CounterRows[State.Category].Name) + ' ' + std::to_string(State.Measure.Count) + ' ' +
          ServiceStateNames[int(State.State)] + Reached(State.Measure));
  if (Details)
    for (const std::string& Line : MeasureLines(R, [Group](TCounter Category) { return InGroup(Category, Group); }))
      Long += "\\n" + OutsideText(Line);
  return (Findings.empty() ? "" : Findings + "; ") + Counts + Long;
}

}  // namespace

TStatus GroupStatus(const TCheckResult& R, TGroup Group) {
  // Whatever state ended it (UNKNOWN, or -t's).
  if (!R.Failure.empty()) return R.Status;
  TStatus Status = ExitOk;
  auto Judge = [&Status](const TMeasure& M) { Status = WorstStatus(Status, MeasureStatus(M)); };
  for (const TCounterRow& Row : CounterRows)
    if (Row.Group == Group) Judge(R.Measures[Row.Id]);
  for (const TSourceMeasure& Source : R.Sources)
    if (InGroup(Source.Category, Group)) Judge(Source.Busiest);
  for (const TStateMeasure& State : R.States)
    if (InGroup(State.Category, Group)) Judge(State.Measure);
  for (const auto& Missing : R.NotRunning)
    if (Watches(Group, Missing.first)) Status = WorstStatus(Status, Missing.second);
  for (const TListenerFinding& Listener : R.Listeners)
    if (!Listener.Listening && CounterRows[Listener.Category].Group == Group)
      Status = WorstStatus(Status, Listener.State);
  return Status;
}

TProgramResult CheckmkOutput(const TCheckResult& R, const TSettings& Settings) {
  std::string Lines;
  for (int Index = 0; Index < GroupCount; ++Index) {
    const TGroup Group = static_cast<TGroup>(Index);
    const std::string Name =
        Settings.ServicePrefix.empty() ? GroupNames[Index] : Settings.ServicePrefix + ' ' + GroupNames[Index];
    // A run that could not be made is every service's UNKNOWN, with the reason.
    const bool Failed = !R.Failure.empty();
    Lines += std::to_string(GroupStatus(R, Group)) + " \"" + Name + "\" " + (Failed ? "-" : Metrics(R, Group)) +
             ' ' + (Failed ? OutsideText(R.Failure) : Text(R, Group, Settings.Details)) + '\n';
  }
  return MachineResult(Lines, R, Settings);
}
