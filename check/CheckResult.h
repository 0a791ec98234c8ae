// The result of one run: every measure with its thresholds and what they
// reached, what must be there and is not, the state, and the counted
// connections. Every output format is a rendering of it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "census/GetConnections.h"
#include "check/Categories.h"
#include "check/Status.h"
#include "check/Thresholds.h"

struct TMeasure {
  int32_t Count = 0;
  TThreshold Warn, Crit;
  bool WarnReached = false, CritReached = false;
};

struct TListenerFinding {
  TCounter Category;
  int32_t Port;
  bool Listening;
  TStatus State;  // what a silent port makes the verdict at least
};

struct TCheckResult {
  TStatus Status = ExitOk;  // the worst of the thresholds' and the requirements'
  // A run that could not be made: the reason, with Status ExitUnknown;
  // nothing below holds then.
  std::string Failure;
  int32_t Verbosity = 0;
  TServicePorts Ports;
  std::array<TMeasure, CounterCount> Measures;  // indexed by TCounter
  // Whether a process of each server's own file name runs (TServer order).
  std::array<bool, ServerCount> Running{};
  // Servers a requirement asked for that do not run, in the order asked, each
  // with the state it makes.
  std::vector<std::pair<TServer, TStatus>> NotRunning;
  // Every port a requirement asked to listen, in the order asked.
  std::vector<TListenerFinding> Listeners;
  // The thresholds' passes: "name=count " for each reached one.
  std::string WarningText, CriticalText;
  // The snapshot, and the indexes in it of every ESTABLISHED connection of a
  // server process (counted in a category, or in none).
  TConnectionList Connections;
  std::vector<size_t> ServerConnections;
};

// The result of a run that could not be made.
TCheckResult FailedResult(const std::string& Reason);
