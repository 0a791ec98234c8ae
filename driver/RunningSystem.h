// The sources of the machine the program runs on. Only main names them:
// everything below it takes a TCheckSystem, so no test reaches the machine
// by default.
#pragma once

#include "check/OrvaneCheck.h"

TCheckSystem RunningSystem();
