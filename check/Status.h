// The four states of a check, named as the exit statuses they end with.
#pragma once

enum TStatus : int { ExitOk = 0, ExitWarning = 1, ExitCritical = 2, ExitUnknown = 3 };

// The worse of two states. CRITICAL ranks above UNKNOWN, which ranks above
// WARNING and OK: a known failure outweighs not knowing, and not knowing
// outweighs a warning.
TStatus WorstStatus(TStatus A, TStatus B);

// The state's word as a status line starts with it: "OK", "WARNING",
// "CRITICAL", "Unknown".
const char* StatusWord(TStatus Status);
