// The output put in place of a file in one step, for collectors that read
// the file at any moment: they find the old content or the new, never a
// part, and never a temporary file under a name they read.
#pragma once

#include <chrono>
#include <string>

#include "driver/Options.h"

// Why the output cannot go to Path, checked before the run writes anything:
// not an absolute path, its directory missing, a directory itself. Empty
// when it can. Platform code.
std::string OutputPathProblem(const std::string& Path);

// Replaces the content of the file Path by Text in one step: a temporary
// file beside it whose name ends in ".tmp", written whole and flushed to
// disk, then renamed over Path. A file that another process holds open
// against the rename (Windows) is tried again until Deadline. Empty on
// success, else the reason; the temporary file is gone either way. Platform
// code.
std::string ReplaceFileContent(const std::string& Path, const std::string& Text,
                               std::chrono::steady_clock::time_point Deadline);

// What main writes after a run: a result without an output file as it is;
// otherwise the file is replaced and nothing is written, or when that fails
// the one line "Unknown - Can not write <path>: <reason>" with status 3. A
// held file is waited for within the -t seconds counted from the program's
// start (TimeoutSeconds), else for a few seconds.
TProgramResult PlaceOutput(TProgramResult Result, int TimeoutSeconds);

// On the watchdog's thread when -t ran out: the timeout's text replaces the
// output file, the held file waited for a moment only. True when it did;
// otherwise the caller writes the timeout's line. Never throws.
bool PlaceTimeout(const TTimeout& Timeout);
