// The result of a run as Checkmk's local checks take it: one line per
// service, "<state> "<service>" <metrics> <text>", each service with its own
// state.
#pragma once

#include "check/CheckResult.h"
#include "driver/Options.h"

TProgramResult CheckmkOutput(const TCheckResult& Result, const TSettings& Settings);

// A service's own state: the thresholds its counters reached, and those of
// the measures asked for of its categories (connections per source, TCP
// states), the servers of its categories that a requirement found not
// running, and its categories' ports that a requirement found not listening.
// The connections service judges the total alone. The worst of all services
// is the run's verdict.
TStatus GroupStatus(const TCheckResult& Result, TGroup Group);
