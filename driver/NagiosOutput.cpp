#include "driver/NagiosOutput.h"

#include <cstdint>
#include <functional>
#include <utility>

#include "common/TextCodec.h"

namespace {

constexpr size_t LineEndBytes = 2;

std::string Item(const char* Label, int32_t Count) { return std::string(Label) + '=' + std::to_string(Count); }

// The OK text: the summary counters, or at -v the detailed ones.
std::string OkItems(const TCheckResult& R) {
  std::string Text;
  for (const TCounterRow& Row : CounterRows) {
    const char* Label = R.Verbosity <= 0 ? Row.SummaryLabel : Row.Detailed ? Row.Label : nullptr;
    if (Label == nullptr) continue;
    if (!Text.empty()) Text += ' ';
    Text += Item(Label, R.Measures[Row.Id].Count);
  }
  return Text;
}

// Items separated by blanks, as Nagios expects; with thresholds each is
// label=value;warn;crit;0;
std::string PerformanceData(const TCheckResult& R, bool Thresholds) {
  std::string Text;
  for (const TCounterRow& Row : CounterRows) {
    if (Row.Label == nullptr) continue;
    const TMeasure& M = R.Measures[Row.Id];
    if (!Text.empty()) Text += ' ';
    Text += Item(Row.Label, M.Count);
    if (Thresholds) Text += ';' + M.Warn.PerfDataText() + ';' + M.Crit.PerfDataText() + ";0;";
  }
  // The measures asked for beyond the counters, always with their thresholds.
  for (const TLabelledMeasure& M : LabelledMeasures(R))
    Text += ' ' + M.Label + '=' + std::to_string(M.Measure.Count) + ';' +
            M.Measure.Warn.PerfDataText() + ';' + M.Measure.Crit.PerfDataText() + ";0;";
  return Text;
}

}  // namespace

std::vector<std::string> MeasureLines(const TCheckResult& R, const std::function<bool(TCounter)>& Shown) {
  std::vector<std::string> Lines;
  for (const TSourceMeasure& Source : R.Sources) {
    if (!Shown(Source.Category)) continue;
    const std::string Name = CounterRows[Source.Category].Name;
    std::string Line = Name + " sources: " + std::to_string(Source.Sources);
    if (Source.Sources > 0)
      Line += ", most from one: " + std::to_string(Source.Busiest.Count) + " (" +
              Source.BusiestSource + ")";
    Lines.push_back(Line);
    for (const TSourceCount& Top : Source.Top)
      Lines.push_back(Name + " from " + Top.Source + ": " + std::to_string(Top.Connections));
  }
  for (size_t Index = 0; Index < R.States.size(); ++Index) {
    const TStateMeasure& State = R.States[Index];
    if (!Shown(State.Category)) continue;
    const bool First = Index == 0 || R.States[Index - 1].Category != State.Category;
    if (First) Lines.push_back(std::string(CounterRows[State.Category].Name) + " states:");
    Lines.back() += std::string(First ? " " : ", ") + ServiceStateNames[int(State.State)] + ' ' +
                    std::to_string(State.Measure.Count);
  }
  return Lines;
}

namespace {

// One line per category.
std::vector<std::string> CategoryLines(const TCheckResult& R) {
  std::vector<std::string> Lines;
  for (const TCounterRow& Row : CounterRows) {
    std::string Line = CategoryLine(R, Row);
    if (!Line.empty()) Lines.push_back(std::move(Line));
  }
  return Lines;
}

const char* NameAt(const char* const* Names, size_t Size, int32_t Index) {
  if (Index < 0 || static_cast<size_t>(Index) >= Size || Names[Index] == nullptr) return "?";
  return Names[Index];
}

// One counted connection. On the status line its fields end in '|'; as a line
// of its own they are separated by blanks with the owner's path last, since a
// Windows path holds blanks.
std::string DumpRecord(const TListEntry& Entry, bool Line) {
  // A Linux path may hold a line break; the record shares a line.
  std::string Name = FoldLineBreaks(Entry.ProcessName);
  // Below the status line a '|' would start performance data.
  if (Line)
    for (char& Character : Name)
      if (Character == '|') Character = '!';
  const std::string Fields[] = {NameAt(ProtocolNames, 2, Entry.Protocol),
                                Entry.LocalAddress,
                                std::to_string(Entry.LocalPort),
                                Entry.RemoteAddress,
                                std::to_string(Entry.RemotePort),
                                NameAt(TcpStateNames, 13, Entry.State),
                                Line ? std::to_string(Entry.ProcessId) : Name,
                                Line ? Name : std::to_string(Entry.ProcessId)};
  std::string Record;
  for (const std::string& Field : Fields) {
    if (Line && !Record.empty()) Record += ' ';
    Record += Field;
    if (!Line) Record += '|';
  }
  return Record;
}

std::string LeftOut(size_t Count) {
  return "... " + std::to_string(Count) + (Count == 1 ? " more line" : " more lines") + " left out";
}

}  // namespace

std::string FitLines(const std::vector<std::string>& Lines, size_t Budget) {
  size_t Total = 0;
  for (const std::string& Line : Lines) Total += Line.size() + LineEndBytes;
  size_t Kept = Lines.size();
  std::string Note;
  if (Total > Budget) {
    // Drop lines from the end until the kept ones and the note fit.
    for (Kept = Lines.size() - 1; Kept > 1; --Kept) {
      Total -= Lines[Kept].size() + LineEndBytes;
      Note = LeftOut(Lines.size() - Kept);
      if (Total + Note.size() + LineEndBytes <= Budget) break;
    }
    if (Kept <= 1) {
      Kept = 1;
      Note = LeftOut(Lines.size() - 1);
      // Not even the note fits beside the first line.
      if (Lines[0].size() + Note.size() + 2 * LineEndBytes > Budget) Note.clear();
    }
  }
  std::string Text;
  for (size_t Index = 0; Index < Kept; ++Index) Text += Lines[Index] + "\n";
  if (!Note.empty()) Text += Note + "\n";
  return Text;
}

std::string CategoryLine(const TCheckResult& R, const TCounterRow& Row) {
  std::string Where;
  if (Row.Role == TRole::Inbound) {
    Where = " port " + std::to_string(R.Ports.*Row.Port);
  } else if (Row.Role == TRole::Outbound) {
    Where = " remote port " + std::to_string(R.Ports.*Row.Port);
  } else if (Row.Role == TRole::Total) {
    std::string Local, Remote, Rest;
    for (const TCounterRow& Part : CounterRows) {
      if (Part.Total != Row.Id || Part.Id == Row.Id) continue;
      const std::string Port = std::to_string(Part.Port ? R.Ports.*Part.Port : 0);
      if (Part.Role == TRole::Inbound) Local += (Local.empty() ? "" : ", ") + Port;
      if (Part.Role == TRole::Outbound) Remote += ", remote " + Port;
      if (Part.Role == TRole::Rest) Rest = std::string(" and any other of ") + ServerNames[int(Part.Server)];
    }
    Where = " ports " + Local + Remote + Rest;
  } else if (Row.Role == TRole::Rest && Row.Label != nullptr) {
    return std::string("Other ports of ") + ServerNames[int(Row.Server)] + ": " +
           std::to_string(R.Measures[Row.Id].Count);
  } else {
    return std::string();
  }
  return Row.Name + Where + ": " + std::to_string(R.Measures[Row.Id].Count);
}

std::string StatusText(const TCheckResult& R) {
  // A run cut short by -t may end with another state than UNKNOWN.
  if (!R.Failure.empty()) return std::string(StatusWord(R.Status)) + " - " + FoldLineBreaks(R.Failure);
  // What must be there and is not comes first, then the thresholds' texts.
  std::string Text;
  for (const auto& Missing : R.NotRunning)
    Text += std::string(ServerNames[int(Missing.first)]) + " not running ";
  for (const TListenerFinding& Listener : R.Listeners)
    if (!Listener.Listening)
      Text += std::string(CounterRows[Listener.Category].Name) + " port " +
              std::to_string(Listener.Port) + " not listening ";
  Text += !R.CriticalText.empty() ? R.CriticalText : !R.WarningText.empty() ? R.WarningText : OkItems(R);
  return std::string(StatusWord(R.Status)) + " - " + Text;
}

TProgramResult NagiosOutput(const TCheckResult& R, const TSettings& Settings) {
  if (R.Status == ExitUnknown && !R.Failure.empty()) return UnknownResult(R.Failure);
  std::vector<std::string> Lines = {StatusText(R) + "|" + PerformanceData(R, Settings.PerfdataThresholds)};
  if (Settings.Details) {
    for (std::string& Line : CategoryLines(R)) Lines.push_back(std::move(Line));
    for (std::string& Line : MeasureLines(R, [](TCounter) { return true; })) Lines.push_back(std::move(Line));
  }
  // The classic dump stands before the status, on its line; long output and
  // a byte budget take it below, one connection a line.
  const bool DumpBelow = Settings.Details || Settings.MaxOutputGiven;
  std::string Dump;
  if (R.Verbosity >= 2)
    for (size_t Index : R.ServerConnections) {
      if (DumpBelow) Lines.push_back(DumpRecord(R.Connections[Index], true));
      else Dump += DumpRecord(R.Connections[Index], false);
    }
  const int Status = R.Status;
  if (!Settings.Extended) return {Dump + Lines[0] + "\n", Status};
  return {Dump + FitLines(Lines, Settings.MaxOutput), Status};
}
