// What must be there besides the counts: the server's processes running, and
// its ports listening. Both judge what the last TOrvaneCheck::Run found.
#pragma once

#include "check/OrvaneCheck.h"

// Whether the category's configured port has a TCP listening socket (IPv4 or
// IPv6) of one of its server's processes in the check's connection list.
bool IsListening(const TOrvaneCheck& Check, TCounter Category);
