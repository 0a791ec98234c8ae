// What the formats read by other programs share (Checkmk's local lines,
// Prometheus text, JSON): their results are written as the UTF-8 they are,
// and the listeners asked for are named whether the run could be made or not.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "check/CheckResult.h"
#include "driver/Options.h"

// The result of such a format: written verbatim, to the output file when one
// is given, with the run's status.
TProgramResult MachineResult(std::string Text, const TCheckResult& Result, const TSettings& Settings);

// The categories --require-listening asked for, each once, in the order asked:
// a category asked twice is one series, one key.
std::vector<TCounter> AskedListeners(const TSettings& Settings);

// The result's finding for the category; nullptr when there is none (a run
// that could not be made).
const TListenerFinding* FindListener(const TCheckResult& Result, TCounter Category);

// The result's measure; nullptr when there is none.
const TSourceMeasure* FindSource(const TCheckResult& Result, TCounter Category);
const TStateMeasure* FindState(const TCheckResult& Result, TCounter Category, TServiceState State);

// A state's name as label values and keys are written: "CloseWait" as
// "close_wait".
std::string StateKey(TServiceState State);
