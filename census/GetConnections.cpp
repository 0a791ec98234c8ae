#include "census/GetConnections.h"
// placeholder until built
void SnapshotConnections(TConnectionList&, TTableSource&, TProcessSource&, const std::vector<uint32_t>*) {}
const char* const ProtocolNames[2] = {"TCP", "UDP"};
const char* const TcpStateNames[13] = {};
