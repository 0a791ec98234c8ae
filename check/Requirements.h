// What must be there besides the counts: the server's processes running, and
// its ports listening. Both read what the last TOrvaneCheck::Run found.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "check/OrvaneCheck.h"

// The index in ServerNames of a process name as a command line gives it
// ("orvane", "Lumicourt.exe"); -1 for none of the server's.
int ServerIndex(const std::string& Name);

// The categories whose port a listening socket can be required on, with the
// server process (index in ServerNames) that must own it.
struct TListenerCategory {
  TCategory Category;
  int Server;
  int32_t TOrvaneCheck::*Port;
};
extern const TListenerCategory ListenerCategories[10];

// The entry of ListenerCategories for a category name (case ignored); nullptr
// for none.
const TListenerCategory* FindListenerCategory(const std::string& Name);

// Whether the category's configured port has a TCP listening socket (IPv4 or
// IPv6) of its process in the check's connection list.
bool IsListening(const TOrvaneCheck& Check, const TListenerCategory& Listener);
