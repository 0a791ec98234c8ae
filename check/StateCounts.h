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
#include "check/Categories.h"

enum class TServiceState { SynRecv, Queued, CloseWait, TimeWait, SynSent };
constexpr int ServiceStateCount = 5;

// "SynRecv", "Queued", "CloseWait", "TimeWait", "SynSent": option values and
// performance data.
extern const char* const ServiceStateNames[ServiceStateCount];

// The states a category of that direction can be told: an inbound one has
// the states of its listener's connections, an outbound one only those of
// the server's own sockets (SynSent, CloseWait).
bool StateApplies(bool Outbound, TServiceState State);

// The process ids of each server (TServer order): every running process
// taken for it.
using TServerIds = std::array<std::vector<uint32_t>, ServerCount>;

// Indexed by TCounter, then TServiceState; only the categories with a port
// of their own (inbound and outbound rows of CounterRows) count anything.
using TStateCounts = std::array<std::array<int32_t, ServiceStateCount>, CounterCount>;

// The state counts of one snapshot. A socket falls into a category by its
// ports as the classifier sorts established ones: the server's first
// inbound row whose port is its local port, else its first outbound row
// whose port is its remote port. Cost: one pass, with a binary search among
// the listeners for each socket no process holds.
TStateCounts CountStates(const TConnectionList& Entries, const TServerIds& Servers,
                         const TServicePorts& Ports);
