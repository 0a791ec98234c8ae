// The TCP states of each service: half-open connections, connections not yet
// accepted, CLOSE_WAIT and TIME_WAIT on the server's ports, and the server's
// own connection attempts and unclosed connections out.
//
// A socket the server holds counts for the category its ports give, as the
// classifier counts established ones. A socket no process holds (TIME_WAIT,
// half-open, waiting in a listen queue) counts for an inbound category when
// it came through a listener of that category's process on the category's
// port: a listener on exactly its local address and port, else one on the
// wildcard address of its family (0.0.0.0, ::). A socket of any other
// process, or of a listener that another process holds too, counts nowhere,
// and none is ever attributed by its remote port.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "census/GetConnections.h"
#include "check/OrvaneCheck.h"

enum class TServiceState { SynRecv, Queued, CloseWait, TimeWait, SynSent };
constexpr int ServiceStateCount = 5;

// "SynRecv", "Queued", "CloseWait", "TimeWait", "SynSent": option values and
// performance data.
extern const char* const ServiceStateNames[ServiceStateCount];

// The states a category of that direction can be told: an inbound one has
// the states of its listener's connections, an outbound one only those of
// the server's own sockets (SynSent, CloseWait).
bool StateApplies(bool Outbound, TServiceState State);

// A category with a port of its own, as the classifier sees it.
struct TCategoryPort {
  TCategory Category;
  int Server;     // index in ServerNames
  bool Outbound;  // the port is the remote one
  int32_t Port;
};

// The twelve categories with a port of their own, in the order of TCategory,
// with their server and direction; Port left 0 for the caller to fill.
std::vector<TCategoryPort> PortCategories();

// The process ids of each server (index in ServerNames): every running
// process of its exact name.
using TServerProcesses = std::array<std::vector<uint32_t>, 3>;

using TStateCounts = std::array<std::array<int32_t, ServiceStateCount>, CategoryCount>;

// The state counts of every category of Ports over one snapshot. Ports in
// the order of TCategory: where two categories of one server share a port,
// the earlier wins, the local-port categories before the remote-port ones,
// as in the classifier. Cost: one pass, with a binary search among the
// listeners for each socket no process holds.
TStateCounts CountStates(const TConnectionList& Entries, const TServerProcesses& Servers,
                         const std::vector<TCategoryPort>& Ports);
