// The values of the options that ask for connections per source and for the
// TCP states of the services, read and checked against one another before
// anything is read from the system.
//
//   --per-source=CATEGORIES[:WARN[:CRIT]]   repeatable, each its own categories
//   --top-sources=N                         0..20
//   --per-source-prefix=V4LEN,V6LEN         0..32, 0..128
//   --per-source-exclude=CIDR[,CIDR...]     repeatable
//   --states=CATEGORIES                     repeatable
//   --state-warn=CATEGORY:STATE:THRESHOLD   repeatable; --state-crit likewise
//
// Category and state names are matched without regard to case. A threshold
// is a plain number (reached at or above it, 0 or less unset) or a range as
// check/Thresholds.h reads them (a plain number here is digits alone). In
// --per-source, where a range may hold a
// colon of its own, two numbers are warning and critical ("15:20"), a text
// that is one range is the warning alone ("~:10", "@10:20"), and anything
// else splits at the last colon that leaves a threshold on both sides
// ("10:20:30": warning 10:20, critical 30).
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "check/Categories.h"
#include "check/SourceCounts.h"
#include "check/StateCounts.h"
#include "check/Thresholds.h"

struct TPerSourceCategory {
  TCategory Category = SMTPin;
  TThreshold Warn, Crit;
};

struct TStateThreshold {
  TCategory Category = SMTPin;
  TServiceState State = TServiceState::SynRecv;
  TThreshold Threshold;
};

struct TMeasureSettings {
  std::vector<TPerSourceCategory> PerSource;  // in the order of TCategory
  size_t TopSources = 0;
  TSourceGrouping Grouping;
  std::vector<TCategory> States;  // in the order of TCategory
  // In the order of TCategory, then of TServiceState.
  std::vector<TStateThreshold> StateWarn, StateCrit;

  // Whether any of the measures was asked for.
  bool Given() const { return !PerSource.empty() || !States.empty(); }
};

// The states --states asked for: each category's states that apply to it,
// in the order of TCategory, then of TServiceState.
std::vector<std::pair<TCategory, TServiceState>> AskedStates(const TMeasureSettings& Settings);

// The threshold given for the category's state; unset when none was (each
// is given once at most).
const TThreshold& StateThreshold(const std::vector<TStateThreshold>& Given, TCategory Category,
                                 TServiceState State);

// Every value each option was given, in the order given; empty for one not
// given.
struct TMeasureOptionValues {
  std::vector<std::string> PerSource, TopSources, PerSourcePrefix, PerSourceExclude, States,
      StateWarn, StateCrit;
};

// The long names of the options, for declaring them.
extern const char* const MeasureOptionNames[7];

// Reads the options into Settings. Returns the refusal as it follows
// "Unknown - " ("Invalid value --per-source=IMAPin:x"), empty when every
// value is well-formed and they fit together.
std::string ReadMeasureSettings(const TMeasureOptionValues& Values, TMeasureSettings& Settings);
