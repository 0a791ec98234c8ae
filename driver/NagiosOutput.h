// The result of a run as a Nagios plugin's output: the status line with its
// performance data, the -v -v dump, and the long output within a byte budget.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "check/CheckResult.h"
#include "driver/Options.h"

TProgramResult NagiosOutput(const TCheckResult& Result, const TSettings& Settings);

// The status line before its performance data ("OK - Connections=7 ...",
// "Unknown - <reason>"), without the -v -v dump.
std::string StatusText(const TCheckResult& Result);

// The long-output lines of the measures beyond the counters, of the
// categories Shown takes: per category asked for, its sources and the busiest
// few; then its states.
std::vector<std::string> MeasureLines(const TCheckResult& Result, const std::function<bool(TCounter)>& Shown);

// The long-output line of a counter: its name, the port(s) it counts and its
// count; empty for a counter without one.
std::string CategoryLine(const TCheckResult& Result, const TCounterRow& Row);

// The lines (without line breaks) as far as they fit into Budget bytes, each
// line end counted as the two bytes Windows writes; what is cut is named in a
// last line. The first line is always kept.
std::string FitLines(const std::vector<std::string>& Lines, size_t Budget);
