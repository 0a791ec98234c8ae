// The result of a run as one JSON object, for a master item whose dependent
// items pick values by JSONPath: the same keys in every run, values null
// where a run that could not be made has none. ASCII only, anything else as
// \u escapes.
#pragma once

#include "check/CheckResult.h"
#include "driver/Options.h"

TProgramResult JsonOutput(const TCheckResult& Result, const TSettings& Settings);
