#include "driver/LongOutput.h"

#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <utility>

namespace {

constexpr size_t LineEndBytes = 2;

// The worse of two statuses, CRITICAL above UNKNOWN above WARNING above OK.
int Worse(int A, int B) {
  auto Rank = [](int Status) { return Status == ExitCritical ? 3 : Status == ExitUnknown ? 2 : Status; };
  return Rank(B) > Rank(A) ? B : A;
}

std::string LevelText(int32_t Level, const std::optional<TRange>& Range) {
  if (Range) return Range->Text;
  return Level > 0 ? std::to_string(Level) : std::string();
}

// Performance data; with thresholds each item is label=value;warn;crit;0;
std::string PerformanceData(const TOrvaneCheck& C, bool Thresholds) {
  std::string Text;
  for (const TCounterRow& Row : CounterRows) {
    if (Row.Label == nullptr) continue;
    if (!Text.empty()) Text += ' ';
    Text += Row.Label;
    Text += '=';
    Text += std::to_string(C.*Row.Counter);
    if (!Thresholds) continue;
    std::string Warn, Crit;
    if (Row.Counter == &TOrvaneCheck::TotalConnections) {
      Warn = LevelText(C.WarnTotal, C.WarnTotalRange);
      Crit = LevelText(C.CritTotal, C.CritTotalRange);
    }
    for (int Index = 0; Index < CategoryCount; ++Index)
      if (Categories[Index] == &Row) {
        Warn = LevelText(C.WarnLevels[Index], C.WarnRanges[Index]);
        Crit = LevelText(C.CritLevels[Index], C.CritRanges[Index]);
      }
    Text += ';' + Warn + ';' + Crit + ";0;";
  }
  return Text;
}

// The OK text's counters, as the classic status line has them.
std::string OkItems(const TOrvaneCheck& C) {
  std::string Text;
  for (const TCounterRow& Row : CounterRows) {
    const char* Label = C.Verbosity <= 0 ? Row.SummaryLabel : Row.Detailed ? Row.Label : nullptr;
    if (Label == nullptr) continue;
    if (!Text.empty()) Text += ' ';
    Text += std::string(Label) + '=' + std::to_string(C.*Row.Counter);
  }
  return Text;
}

std::string Ports(const TOrvaneCheck& C, std::initializer_list<int32_t TOrvaneCheck::*> Local,
                  int32_t TOrvaneCheck::*Remote) {
  if (Local.size() == 0) return " remote port " + std::to_string(C.*Remote);
  std::string Text = Local.size() > 1 || Remote ? " ports " : " port ";
  const char* Separator = "";
  for (auto Port : Local) {
    Text += Separator + std::to_string(C.*Port);
    Separator = ", ";
  }
  if (Remote) Text += ", remote " + std::to_string(C.*Remote);
  return Text;
}

// One line per category: its name, the port(s) it counts and its count.
std::vector<std::string> CategoryLines(const TOrvaneCheck& C) {
  using T = TOrvaneCheck;
  const std::string Lines[] = {
      "SMTPin" + Ports(C, {&T::SmtpInPort}, nullptr) + ": " + std::to_string(C.SmtpInCount),
      "SMTPout" + Ports(C, {}, &T::SmtpOutPort) + ": " + std::to_string(C.SmtpOutCount),
      "SMTPSSL" + Ports(C, {&T::SmtpSslPort}, nullptr) + ": " + std::to_string(C.SmtpSslCount),
      "SMTPTotal" + Ports(C, {&T::SmtpInPort, &T::SmtpSslPort}, &T::SmtpOutPort) + ": " +
          std::to_string(C.SmtpTotal),
      "POPin" + Ports(C, {&T::PopInPort}, nullptr) + ": " + std::to_string(C.PopInCount),
      "POPout" + Ports(C, {}, &T::PopOutPort) + ": " + std::to_string(C.PopOutCount),
      "POPSSL" + Ports(C, {&T::PopSslPort}, nullptr) + ": " + std::to_string(C.PopSslCount),
      "POPTotal" + Ports(C, {&T::PopInPort, &T::PopSslPort}, &T::PopOutPort) + ": " +
          std::to_string(C.PopTotal),
      "IMAPin" + Ports(C, {&T::ImapInPort}, nullptr) + ": " + std::to_string(C.ImapInCount),
      "IMAPSSL" + Ports(C, {&T::ImapSslPort}, nullptr) + ": " + std::to_string(C.ImapSslCount),
      "IMAPTotal" + Ports(C, {&T::ImapInPort, &T::ImapSslPort}, nullptr) + ": " +
          std::to_string(C.ImapTotal),
      "Other ports of Orvane.exe: " + std::to_string(C.OtherCount),
      "LCin" + Ports(C, {&T::LumicourtPort}, nullptr) + ": " + std::to_string(C.LumicourtInCount),
      "LCSSL" + Ports(C, {&T::LumicourtSslPort}, nullptr) + ": " +
          std::to_string(C.LumicourtSslCount),
      "LCTotal" + Ports(C, {&T::LumicourtPort, &T::LumicourtSslPort}, nullptr) +
          " and any other of Lumicourt.exe: " + std::to_string(C.LumicourtTotal),
      "HSin" + Ports(C, {&T::HelmsteadPort}, nullptr) + ": " + std::to_string(C.HelmsteadInCount),
      "HSSSL" + Ports(C, {&T::HelmsteadSslPort}, nullptr) + ": " +
          std::to_string(C.HelmsteadSslCount),
      "HSTotal" + Ports(C, {&T::HelmsteadPort, &T::HelmsteadSslPort}, nullptr) + ": " +
          std::to_string(C.HelmsteadTotal),
  };
  return std::vector<std::string>(std::begin(Lines), std::end(Lines));
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

TProgramResult ExtendedResult(const TOrvaneCheck& C, const TExtendedSettings& Settings) {
  int Status = C.IsCritical ? ExitCritical : C.IsWarning ? ExitWarning : ExitOk;
  std::string Text;
  for (int Server : Settings.RequiredServers)
    if (C.ServerIds[Server] == 0) {
      Text += std::string(ServerNames[Server]) + " not running ";
      Status = Worse(Status, Settings.RunningStatus);
    }
  for (const TListenerCategory* Listener : Settings.RequiredListeners)
    if (!IsListening(C, *Listener)) {
      Text += std::string(Categories[Listener->Category]->Name) + " port " +
              std::to_string(C.*Listener->Port) + " not listening ";
      Status = Worse(Status, Settings.ListeningStatus);
    }
  if (C.IsCritical) Text += C.CriticalText;
  else if (C.IsWarning) Text += C.WarningText;
  else Text += OkItems(C);
  std::vector<std::string> Lines = {std::string(StatusWord(Status)) + " - " + Text + "|" +
                                    PerformanceData(C, Settings.PerfdataThresholds)};
  std::string Output;
  if (Settings.Details) {
    for (std::string& Line : CategoryLines(C)) Lines.push_back(std::move(Line));
    // At -v -v the dump holds one counted connection per line.
    size_t Start = 0;
    while (Start < C.DebugDump.size()) {
      const size_t End = C.DebugDump.find('\n', Start);
      Lines.push_back(C.DebugDump.substr(Start, End - Start));
      if (End == std::string::npos) break;
      Start = End + 1;
    }
  } else {
    Output = C.DebugDump;  // the classic dump before the line
  }
  return {Output + FitLines(Lines, Settings.MaxOutput), Status};
}
