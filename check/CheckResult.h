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
#include "check/SourceCounts.h"
#include "check/StateCounts.h"
#include "check/Status.h"
#include "check/Thresholds.h"

struct TMeasure {
  int32_t Count = 0;
  TThreshold Warn, Crit;
  bool WarnReached = false, CritReached = false;
};

// A count judged by its thresholds.
inline TMeasure JudgedMeasure(int32_t Count, const TThreshold& Warn, const TThreshold& Crit) {
  return {Count, Warn, Crit, Warn.Reached(Count), Crit.Reached(Count)};
}

// The state a measure's thresholds make.
inline TStatus MeasureStatus(const TMeasure& M) {
  return M.CritReached ? ExitCritical : M.WarnReached ? ExitWarning : ExitOk;
}

// Connections per remote address of one category: Busiest is the most one
// source holds, judged by the category's per-source thresholds.
struct TSourceMeasure {
  TCounter Category;
  TMeasure Busiest;
  std::string BusiestSource;  // empty when the category has no connection
  int32_t Sources = 0;
  std::vector<TSourceCount> Top;  // the busiest few, as many as were asked for
};

// One TCP state of one category.
struct TStateMeasure {
  TCounter Category;
  TServiceState State;
  TMeasure Measure;
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
  // The categories asked for per source, in their order.
  std::vector<TSourceMeasure> Sources;
  // The states of the categories asked for, in their order, each category's
  // states in the order of TServiceState.
  std::vector<TStateMeasure> States;
  // The thresholds' passes: "name=count " for each reached one, then "IMAPin
  // 17 connections from 203.0.113.9 " and "IMAPin 120 CloseWait ".
  std::string WarningText, CriticalText;
  // The snapshot, and the indexes in it of every ESTABLISHED connection of a
  // server process (counted in a category, or in none).
  TConnectionList Connections;
  std::vector<size_t> ServerConnections;
};

// A measure beyond the counters under its performance-data label: one pair
// per category whatever the number of sources ("ImapInMaxPerSrc",
// "ImapInSources"), one per state asked for ("ImapInCloseWait"); never an
// address.
struct TLabelledMeasure {
  std::string Label;
  TCounter Category;
  TMeasure Measure;
};
std::vector<TLabelledMeasure> LabelledMeasures(const TCheckResult& Result);

// The result of a run that could not be made.
TCheckResult FailedResult(const std::string& Reason);
