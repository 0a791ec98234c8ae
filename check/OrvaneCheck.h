// TOrvaneCheck: the check object with its ports, counters, thresholds and
// verdict; the port readers, the classifier and the threshold evaluation.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "census/GetConnections.h"
#include "check/Thresholds.h"
#include "install/Orvane.h"

constexpr int CategoryCount = 17;

// The server's three processes, in the order of TOrvaneCheck::ServerIds.
extern const char* const ServerNames[3];

// The connection categories' indexes in WarnLevels, CritLevels and
// Categories: the order of the options, thresholds and texts.
enum TCategory {
  SMTPin, SMTPout, SMTPSSL, SMTPTotal,
  POPin, POPout, POPSSL, POPTotal,
  IMAPin, IMAPSSL, IMAPTotal,
  LCin, LCSSL, LCTotal,
  HSin, HSSSL, HSTotal,
};

// What a check reads from the system. Tests hand in fakes; only main hands
// in the running machine's sources.
struct TCheckSystem {
  TConfigFileSystem* Files;
  TRegistrySource* Registry;
  TSocketSource* Sockets;
  TProcessSource* Processes;
};

class TOrvaneCheck : public TOrvane {
public:
  explicit TOrvaneCheck(const TCheckSystem& System);

  // Ports
  int32_t SmtpInPort = 25;
  int32_t SmtpOutPort = 25;  // remote port
  int32_t SmtpSslPort = 465;
  int32_t PopInPort = 110;
  int32_t PopOutPort = 110;  // remote port
  int32_t PopSslPort = 995;
  int32_t ImapInPort = 143;
  int32_t ImapSslPort = 993;
  int32_t LumicourtPort = 3000;
  int32_t LumicourtSslPort = 443;
  int32_t HelmsteadPort = 1000;
  int32_t HelmsteadSslPort = 443;

  // Counters
  int32_t TotalConnections = 0;
  int32_t SmtpInCount = 0, SmtpOutCount = 0, SmtpSslCount = 0, SmtpTotal = 0;
  int32_t PopInCount = 0, PopOutCount = 0, PopSslCount = 0, PopTotal = 0;
  int32_t ImapInCount = 0, ImapSslCount = 0, ImapTotal = 0;
  int32_t OtherCount = 0;
  int32_t LumicourtInCount = 0, LumicourtSslCount = 0, LumicourtOtherCount = 0, LumicourtTotal = 0;
  int32_t HelmsteadInCount = 0, HelmsteadSslCount = 0, HelmsteadTotal = 0;

  // Thresholds: 0 or less is not set.
  int32_t WarnTotal = 0;
  int32_t CritTotal = 0;
  std::array<int32_t, CategoryCount> WarnLevels{};
  std::array<int32_t, CategoryCount> CritLevels{};
  // A threshold written as a range takes the place of the level beside it.
  std::optional<TRange> WarnTotalRange, CritTotalRange;
  std::array<std::optional<TRange>, CategoryCount> WarnRanges, CritRanges;

  // Verdict
  bool IsWarning = false;
  bool IsCritical = false;
  std::string WarningText;
  std::string CriticalText;

  TConnectionList ConnectionList;

  // The process ids the last Run found for Orvane.exe, Lumicourt.exe and
  // Helmstead.exe (ServerNames), 0 for one not running.
  std::array<uint32_t, 3> ServerIds{};

  // The records Run writes at Verbosity 2 or more; they go out directly
  // before the status line, on the same line.
  std::string DebugDump;
  // The dump as one line per record instead, its fields separated by blanks
  // (long output, where '|' would start performance data).
  bool DumpLines = false;

  void LoadPorts();
  void ReadOrvanePorts();
  void ReadLumicourtPorts();
  void ReadHelmsteadPorts();

  void Run();
  uint32_t FindProcessId(const std::string& Name);
  void EvaluateThresholds();

  // The counter of a connection category.
  int32_t CategoryCounter(int Index) const;

private:
  TSocketSource& Sockets;
  TProcessSource& Processes;
};

// One counter of the check and where it shows. The rows drive the options and
// thresholds of the connection categories, the reset before a run and the
// three lists of the status line.
struct TCounterRow {
  const char* Name;          // the connection category ("SMTPin"); nullptr: none
  const char* Label;         // in the performance data; nullptr: never shown
  const char* SummaryLabel;  // in the short OK text; nullptr: not there
  bool Detailed;             // in the detailed OK text, under Label
  int32_t TOrvaneCheck::*Counter;
};

constexpr int CounterCount = 20;

// Every counter, in the order of the performance data.
extern const TCounterRow CounterRows[CounterCount];

// The rows of the connection categories, in their order.
extern const std::array<const TCounterRow*, CategoryCount> Categories;
