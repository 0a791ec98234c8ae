// The result of a run as a Nagios plugin's output: the status line with its
// performance data, the -v -v dump, and the long output within a byte budget.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "check/CheckResult.h"
#include "driver/Options.h"

TProgramResult NagiosOutput(const TCheckResult& Result, const TSettings& Settings);

// The lines (without line breaks) as far as they fit into Budget bytes, each
// line end counted as the two bytes Windows writes; what is cut is named in a
// last line. The first line is always kept.
std::string FitLines(const std::vector<std::string>& Lines, size_t Budget);
