// The result of a run as Prometheus text (exposition format 0.0.4, which an
// OpenMetrics parser takes too), for the textfile collectors of
// node_exporter and windows_exporter: gauges only, no timestamps, every
// series once, ended by "# EOF".
#pragma once

#include <cstdint>
#include <string>

#include "check/CheckResult.h"
#include "driver/Options.h"

TProgramResult PrometheusOutput(const TCheckResult& Result, const TSettings& Settings);

// The text, with the run's time given (seconds since 1970).
std::string PrometheusText(const TCheckResult& Result, const TSettings& Settings, int64_t Now);
