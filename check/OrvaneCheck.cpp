#include "check/OrvaneCheck.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <utility>
#include <string>
#include <vector>

#include "common/Low32.h"
#include "common/TextCodec.h"

const char* const ServerNames[3] = {"Orvane.exe", "Lumicourt.exe", "Helmstead.exe"};

constexpr TCounterRow CounterRows[CounterCount] = {
    // Name       Label          SummaryLabel   Detailed Counter
    {nullptr,     "Connections", "Connections", true,  &TOrvaneCheck::TotalConnections},
    {"SMTPin",    "SmtpIn",      nullptr,       true,  &TOrvaneCheck::SmtpInCount},
    {"SMTPout",   "SmtpOut",     nullptr,       true,  &TOrvaneCheck::SmtpOutCount},
    {"SMTPSSL",   "SmtpSSL",     nullptr,       true,  &TOrvaneCheck::SmtpSslCount},
    {"SMTPTotal", "SmtpTotal",   "Smtp",        false, &TOrvaneCheck::SmtpTotal},
    {"POPin",     "PopIn",       nullptr,       true,  &TOrvaneCheck::PopInCount},
    {"POPout",    "PopOut",      nullptr,       true,  &TOrvaneCheck::PopOutCount},
    {"POPSSL",    "PopSSL",      nullptr,       true,  &TOrvaneCheck::PopSslCount},
    {"POPTotal",  "PopTotal",    "Pop",         false, &TOrvaneCheck::PopTotal},
    {"IMAPin",    "ImapIn",      nullptr,       true,  &TOrvaneCheck::ImapInCount},
    {"IMAPSSL",   "ImapSSL",     nullptr,       true,  &TOrvaneCheck::ImapSslCount},
    {"IMAPTotal", "ImapTotal",   "Imap",        false, &TOrvaneCheck::ImapTotal},
    {nullptr,     "Other",       nullptr,       true,  &TOrvaneCheck::OtherCount},
    {"LCin",      "LCin",        nullptr,       true,  &TOrvaneCheck::LumicourtInCount},
    {"LCSSL",     "LCSSL",       nullptr,       true,  &TOrvaneCheck::LumicourtSslCount},
    // Part of the web-mail total only.
    {nullptr,     nullptr,       nullptr,       false, &TOrvaneCheck::LumicourtOtherCount},
    {"LCTotal",   "LCTotal",     "Lumicourt",   false, &TOrvaneCheck::LumicourtTotal},
    {"HSin",      "HSin",        nullptr,       true,  &TOrvaneCheck::HelmsteadInCount},
    {"HSSSL",     "HSSSL",       nullptr,       true,  &TOrvaneCheck::HelmsteadSslCount},
    {"HSTotal",   "HSTotal",     "Helmstead",   false, &TOrvaneCheck::HelmsteadTotal},
};

namespace {

// Every row filled in, and one named row per connection category.
constexpr bool TableIsWhole() {
  int Named = 0;
  for (const TCounterRow& Row : CounterRows) {
    if (Row.Counter == nullptr) return false;
    if (Row.Name != nullptr) ++Named;
  }
  return Named == CategoryCount;
}
static_assert(TableIsWhole(), "CounterRows lacks a counter or a category");

constexpr std::array<const TCounterRow*, CategoryCount> CategoryRows() {
  std::array<const TCounterRow*, CategoryCount> Rows{};
  int Found = 0;
  for (const TCounterRow& Row : CounterRows)
    if (Row.Name != nullptr) Rows[Found++] = &Row;
  return Rows;
}

}  // namespace

constexpr std::array<const TCounterRow*, CategoryCount> Categories = CategoryRows();

TOrvaneCheck::TOrvaneCheck(const TCheckSystem& System)
    : TOrvane(*System.Files, *System.Registry),
      Sockets(*System.Sockets),
      Processes(*System.Processes) {}

namespace {

bool OpensSection(const std::string& Line) { return !Line.empty() && Line[0] == '['; }

// Shared by the two component files, which have the same layout.
void ReadComponentPorts(TOrvane& Orvane, const std::string& FileName, int32_t& PlainPort,
                        int32_t& SslPort) {
  std::vector<std::string> Lines;
  Orvane.LoadConfigFile(FileName, Lines);
  bool InWebServer = false;
  bool InSsl = false;
  for (const std::string& Line : Lines) {
    // Closing comes first, so a header line that starts with "[" still opens
    // its own section below.
    if (OpensSection(Line)) InWebServer = InSsl = false;
    if (TOrvane::Contains(Line, "[WebServer]")) InWebServer = true;
    if (TOrvane::Contains(Line, "[SSL]")) InSsl = true;
    // A configured value is taken when it is not 0 as read.
    const int64_t Value = TOrvane::KeyValueInteger(Line, "Port=");
    if (Value != 0 && InWebServer) PlainPort = Low32(Value);
    if (Value != 0 && InSsl) SslPort = Low32(Value);
  }
}

}  // namespace

void TOrvaneCheck::LoadPorts() {
  ReadOrvanePorts();
  ReadLumicourtPorts();
  ReadHelmsteadPorts();
}

void TOrvaneCheck::ReadOrvanePorts() {
  std::vector<std::string> Lines;
  LoadConfigFile(DataPath + "Orvane.ini", Lines);
  const struct {
    const char* Key;
    int32_t* Port;
  } Keys[] = {
      {"SMTPIn=", &SmtpInPort}, {"SMTPOut=", &SmtpOutPort}, {"SSL-SMTP=", &SmtpSslPort},
      {"POPIn=", &PopInPort},   {"POPOut=", &PopOutPort},   {"SSL-POP=", &PopSslPort},
      {"IMAPIn=", &ImapInPort}, {"SSL-IMAP=", &ImapSslPort},
  };
  bool InPorts = false;
  for (const std::string& Line : Lines) {
    if (OpensSection(Line)) InPorts = false;
    if (Contains(Line, "[Ports]")) InPorts = true;
    for (const auto& Key : Keys) {
      const int64_t Value = KeyValueInteger(Line, Key.Key);
      if (Value != 0 && InPorts) *Key.Port = Low32(Value);
    }
  }
}

void TOrvaneCheck::ReadLumicourtPorts() {
  ReadComponentPorts(*this, DataPath + "..\\Lumicourt\\Lumicourt.ini", LumicourtPort,
                     LumicourtSslPort);
}

void TOrvaneCheck::ReadHelmsteadPorts() {
  ReadComponentPorts(*this, DataPath + "..\\Helmstead\\Helmstead.ini", HelmsteadPort,
                     HelmsteadSslPort);
}

int32_t TOrvaneCheck::CategoryCounter(int Index) const {
  if (Index < 0 || Index >= CategoryCount) return 0;
  return this->*Categories[Index]->Counter;
}

void TOrvaneCheck::EvaluateThresholds() {
  IsWarning = IsCritical = false;
  WarningText.clear();
  CriticalText.clear();

  // One pass: the total first, then the categories in their order.
  using TRanges = std::array<std::optional<TRange>, CategoryCount>;
  auto Pass = [this](int32_t TotalLevel, const std::array<int32_t, CategoryCount>& Levels,
                     const std::optional<TRange>& TotalRange, const TRanges& Ranges,
                     bool& Reached, std::string& Text) {
    auto Test = [&](const char* Name, int32_t Counter, int32_t Level,
                    const std::optional<TRange>& Range) {
      if (Range ? RangeReached(*Range, Counter) : Level > 0 && Counter >= Level) {
        Reached = true;
        Text += Name;
        Text += '=';
        Text += std::to_string(Counter);
        Text += ' ';
      }
    };
    Test("connections", TotalConnections, TotalLevel, TotalRange);
    for (int Index = 0; Index < CategoryCount; ++Index)
      Test(Categories[Index]->Name, CategoryCounter(Index), Levels[Index], Ranges[Index]);
  };
  Pass(WarnTotal, WarnLevels, WarnTotalRange, WarnRanges, IsWarning, WarningText);
  Pass(CritTotal, CritLevels, CritTotalRange, CritRanges, IsCritical, CriticalText);
}

uint32_t TOrvaneCheck::FindProcessId(const std::string& Name) {
  std::vector<TProcessInfo> List;
  if (!Processes.ListProcesses(List)) return 0;
  const std::string Target = AsciiUpper(Name);
  const uint32_t Own = Processes.OwnProcessId();
  uint32_t Containing = 0, Equal = 0;
  // The whole list is walked: when several processes match, the last one
  // wins. The program itself (say check_orvane.exe) is never the server, and
  // a process of the server's own name comes before namesakes that merely
  // contain it (BackupOrvane.exe).
  for (const TProcessInfo& Process : List) {
    if (Own != 0 && Process.ProcessId == Own) continue;
    const std::string Upper = AsciiUpper(Process.ExeFile);
    if (Upper.find(Target) == std::string::npos) continue;
    Containing = Process.ProcessId;
    if (Upper == Target) Equal = Process.ProcessId;
  }
  return Equal != 0 ? Equal : Containing;
}

namespace {

const char* NameAt(const char* const* Names, size_t Size, int32_t Index) {
  if (Index < 0 || static_cast<size_t>(Index) >= Size || Names[Index] == nullptr) return "?";
  return Names[Index];
}

void DumpEntry(const TListEntry& Entry, bool Lines, std::string& Dump) {
  const char Separator = Lines ? ' ' : '|';
  Dump += NameAt(ProtocolNames, 2, Entry.Protocol);
  Dump += Separator;
  Dump += Entry.LocalAddress;
  Dump += Separator;
  Dump += std::to_string(Entry.LocalPort);
  Dump += Separator;
  Dump += Entry.RemoteAddress;
  Dump += Separator;
  Dump += std::to_string(Entry.RemotePort);
  Dump += Separator;
  Dump += NameAt(TcpStateNames, 13, Entry.State);
  Dump += Separator;
  // A Linux path may hold a line break; the dump shares the status line.
  std::string Name = FoldLineBreaks(Entry.ProcessName);
  if (Lines)
    for (char& Character : Name)
      if (Character == '|') Character = '!';
  Dump += Name;
  Dump += Separator;
  Dump += std::to_string(Entry.ProcessId);
  Dump += Lines ? '\n' : '|';
}

}  // namespace

void TOrvaneCheck::Run() {
  // The processes are looked up first so that the census only has to name
  // the owners that can be counted.
  for (size_t Index = 0; Index < ServerIds.size(); ++Index)
    ServerIds[Index] = FindProcessId(ServerNames[Index]);
  const auto [OrvaneId, LumicourtId, HelmsteadId] = ServerIds;
  // Where the system hides other users' processes, a server that is not
  // found may run all the same: zero connections would be a false verdict.
  for (size_t Index = 0; Index < ServerIds.size(); ++Index) {
    if (ServerIds[Index] != 0) continue;
    const std::string Hidden = Processes.HiddenProcesses();
    if (!Hidden.empty())
      throw std::runtime_error(std::string(ServerNames[Index]) + " not found: " + Hidden);
    break;
  }
  std::vector<uint32_t> Owners;
  for (uint32_t Id : ServerIds)
    if (Id != 0) Owners.push_back(Id);
  std::sort(Owners.begin(), Owners.end());
  Owners.erase(std::unique(Owners.begin(), Owners.end()), Owners.end());

  ConnectionList.clear();
  DebugDump.clear();
  SnapshotConnections(ConnectionList, Sockets, Processes, Owners);

  for (const TCounterRow& Row : CounterRows) this->*Row.Counter = 0;

  for (const TListEntry& Entry : ConnectionList) {
    // Id 0 is "owner unknown" (or a server process that is not running); such
    // connections belong to nobody we count.
    if (Entry.ProcessId == 0 || Entry.State != TcpStateEstablished) continue;
    if (Entry.ProcessId == OrvaneId) {
      if (Entry.LocalPort == SmtpInPort) ++SmtpInCount;
      else if (Entry.LocalPort == SmtpSslPort) ++SmtpSslCount;
      else if (Entry.LocalPort == PopInPort) ++PopInCount;
      else if (Entry.LocalPort == PopSslPort) ++PopSslCount;
      else if (Entry.LocalPort == ImapInPort) ++ImapInCount;
      else if (Entry.LocalPort == ImapSslPort) ++ImapSslCount;
      else if (Entry.RemotePort == SmtpOutPort) ++SmtpOutCount;
      else if (Entry.RemotePort == PopOutPort) ++PopOutCount;
      else ++OtherCount;
    } else if (Entry.ProcessId == LumicourtId) {
      if (Entry.LocalPort == LumicourtPort) ++LumicourtInCount;
      else if (Entry.LocalPort == LumicourtSslPort) ++LumicourtSslCount;
      else ++LumicourtOtherCount;
    } else if (Entry.ProcessId == HelmsteadId) {
      // Any other local port of the administration component counts nowhere.
      if (Entry.LocalPort == HelmsteadPort) ++HelmsteadInCount;
      else if (Entry.LocalPort == HelmsteadSslPort) ++HelmsteadSslCount;
    } else {
      continue;
    }
    if (Verbosity >= 2) DumpEntry(Entry, DumpLines, DebugDump);
  }

  SmtpTotal = SmtpInCount + SmtpOutCount + SmtpSslCount;
  PopTotal = PopInCount + PopOutCount + PopSslCount;
  ImapTotal = ImapInCount + ImapSslCount;
  LumicourtTotal = LumicourtInCount + LumicourtSslCount + LumicourtOtherCount;
  HelmsteadTotal = HelmsteadInCount + HelmsteadSslCount;
  TotalConnections =
      SmtpTotal + PopTotal + ImapTotal + OtherCount + LumicourtTotal + HelmsteadTotal;

  EvaluateThresholds();
}
