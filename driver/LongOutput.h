// The output of a run with extended options: the status line with what must
// be there but is not, thresholds in the performance data, and the long
// output below it within a byte budget.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "check/OrvaneCheck.h"
#include "driver/ExtendedOptions.h"
#include "driver/nagios_orvane_check.h"

// The whole output and status of a finished run.
TProgramResult ExtendedResult(const TOrvaneCheck& Check, const TExtendedSettings& Settings);

// The lines (without line breaks) as far as they fit into Budget bytes, each
// line end counted as the two bytes Windows writes; what is cut is named in a
// last line. The first line is always kept.
std::string FitLines(const std::vector<std::string>& Lines, size_t Budget);
